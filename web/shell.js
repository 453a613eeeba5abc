// The page around a program built for the browser: its arguments from the
// page address's query, its standard error and exit status shown on the page,
// and the pointer taken by the canvas on a click.
(function () {
  'use strict';
  const program = document.currentScript.dataset.program;
  const canvas = document.getElementById('canvas');
  const status = document.getElementById('status');
  const stderr = document.getElementById('stderr');

  // Browsers refuse to load WebAssembly from files: say so rather than stay black.
  if (location.protocol === 'file:') {
    status.textContent = program + ' cannot start from a file:// address: browsers refuse to load ' +
      'WebAssembly from files. Serve this folder over HTTP (any static web server) and open it there.';
    canvas.hidden = true;
    return;
  }

  // Each &-separated word of the query is one argument after the program's
  // name, as typed: ?-f&-red is "-f" "-red". A word that is not valid
  // percent-encoding is passed as it stands.
  function queryArguments() {
    const query = location.search.slice(1);
    if (query === '') return [];
    return query.split('&').map(function (word) {
      try { return decodeURIComponent(word); } catch (e) { return word; }
    });
  }

  // WebGL wants a texture's internal format named like its format; OpenGL 1.1
  // programs may give the number of components instead (3 for RGB, 4 for RGBA).
  const components = { 1: 0x1909, 2: 0x190A, 3: 0x1907, 4: 0x1908 };  // LUMINANCE ... RGBA
  const texImage2D = WebGLRenderingContext.prototype.texImage2D;
  WebGLRenderingContext.prototype.texImage2D = function () {
    const args = Array.prototype.slice.call(arguments);
    if (args.length === 9 && components[args[2]] !== undefined) args[2] = components[args[2]];
    return texImage2D.apply(this, args);
  };

  // Standard error, line by line.
  function writeStderr(text) {
    stderr.textContent += (stderr.textContent === '' ? '' : '\n') + text;
  }

  // The system pointer is hidden over the canvas (CSS). A click locks it to the
  // canvas, so that motion goes on past the edge; the browser's way out of a
  // lock or of full screen, Escape, gives it back and is not a key press for
  // the program.
  let freedAt = -Infinity;
  function takePointer(fullScreen) {
    canvas.addEventListener('click', function () {
      if (document.pointerLockElement !== canvas) {
        const asked = canvas.requestPointerLock();
        if (asked && asked.catch) asked.catch(function () {});
      }
      // Browsers allow full screen only in answer to a click.
      if (fullScreen && !document.fullscreenElement && canvas.requestFullscreen)
        canvas.requestFullscreen().catch(function () {});
    });
    document.addEventListener('pointerlockchange', function () {
      if (document.pointerLockElement !== canvas) freedAt = performance.now();
    });
    window.addEventListener('keydown', function (event) {
      if (event.key !== 'Escape') return;
      const taken = document.pointerLockElement === canvas || document.fullscreenElement === canvas;
      if (!taken && performance.now() - freedAt > 500) return;
      event.stopImmediatePropagation();
      event.preventDefault();
      if (document.pointerLockElement === canvas) document.exitPointerLock();
      if (document.fullscreenElement === canvas) document.exitFullscreen().catch(function () {});
    }, true);
  }

  // emscripten's SDL works a motion out when the program polls it, by the
  // pointer's lock at that moment, and the first one from the canvas's corner:
  // a motion queued just before the lock changes, or the first, would jump or
  // be lost. Each motion is measured here as it arrives instead: locked, by
  // the browser's movement; free, from the pointer's last position in the
  // page, in canvas pixels, the first motion there being none. A canvas that
  // moves under a still pointer (the page scrolled, resized or out of full
  // screen) is no motion. Firefox measures a locked pointer against the page,
  // so that the page moving on the screen under it (full screen hiding the
  // toolbars) may come as one motion by just that much: it tells where the
  // page is on the screen, and such a motion is dropped.
  let last = null;
  let pageAt = null;
  function measure(event) {
    const wasAt = pageAt;
    pageAt = window.mozInnerScreenX === undefined ? null : [window.mozInnerScreenX, window.mozInnerScreenY];
    if (document.pointerLockElement === canvas) {
      last = null;
      const pageMoved = wasAt && pageAt && (event.movementX !== 0 || event.movementY !== 0) &&
        event.movementX === wasAt[0] - pageAt[0] && event.movementY === wasAt[1] - pageAt[1];
      event.penshellMotion = pageMoved ? [0, 0] : [event.movementX, event.movementY];
      return;
    }
    if (event.type === 'mousemove') {
      const rect = canvas.getBoundingClientRect();
      event.penshellMotion = last ? [(event.clientX - last[0]) * canvas.width / rect.width,
        (event.clientY - last[1]) * canvas.height / rect.height] : [0, 0];
    }
    last = [event.clientX, event.clientY];
  }
  ['mousemove', 'mousedown', 'mouseup'].forEach(function (type) {
    window.addEventListener(type, measure, true);
  });
  // The frames the program has shown, for a check to wait on: emscripten's
  // SDL_GL_SwapBuffers calls this hook where it is set.
  window.penshellFrames = 0;
  function countFrames() {
    Browser.doSwapBuffers = function () { ++window.penshellFrames; };
  }
  function measureMotions() {
    const calculate = Browser.calculateMouseEvent;
    Browser.calculateMouseEvent = function (event) {
      calculate.call(Browser, event);
      if (event.penshellMotion) {
        Browser.mouseMovementX = event.penshellMotion[0];
        Browser.mouseMovementY = event.penshellMotion[1];
      }
    };
  }

  function stopped(text) {
    status.textContent = text;
    if (document.pointerLockElement === canvas) document.exitPointerLock();
  }

  window.Module = {
    canvas: canvas,
    thisProgram: program,
    arguments: queryArguments(),
    preRun: [measureMotions, countFrames],
    print: function (text) { console.log(text); },
    printErr: function (text) {
      // emscripten's notices about its GL emulation are the toolchain's, not the program's.
      if (/^WARNING: using emscripten GL /.test(text)) console.warn(text);
      else writeStderr(text);
    },
    // The status a shell gives: main's -1 is 255.
    onExit: function (code) { stopped(program + ' exited with status ' + (code & 255)); },
    onAbort: function (what) { stopped(program + ' stopped: ' + what); },
    shell: { takePointer: takePointer },
  };

  status.textContent = program + ' is running';
  const code = document.createElement('script');
  code.src = program + '.js';
  code.onerror = function () { stopped(program + ' could not load ' + code.src); };
  document.body.appendChild(code);
})();
