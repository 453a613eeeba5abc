// The web build in real browsers: each scenario opens a page in each headless
// engine (Chromium and Firefox), drives it with mouse and keys, and compares
// the canvas pixel by pixel with the frame the desktop program draws after the
// same motion (the pictures decoded by the program's own code); the kernel's
// scenarios run its exactness check in the engine's WebAssembly. Usage:
// node check.mjs SITE BUILD_DIR [SCREENSHOT_DIR]
// (BUILD_DIR, inside SITE, holds picture_dump.js and the kernel's page.)
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { engines, launchEngine } from './browsers.mjs';
import { serveSite } from '../serve.mjs';

const [site, build, shots] = process.argv.slice(2);
const pictureDump = path.join(build, 'picture_dump.js');
const buildPath = path.relative(site, build).split(path.sep).join('/');
if (buildPath.startsWith('..') || path.isAbsolute(buildPath)) throw new Error(build + ' is not inside ' + site);

// Steps: e enters the canvas (a first motion, at its middle), mDX,DY moves
// by that many pixels (y down, as the browser counts; *N repeats, and
// A+B*N repeats A then B), c clicks, p and r press and release the left
// button, R clicks the right one, wMS waits, yDY scrolls the page by DY pixels
// (and waits two frames), hDY moves the page DY pixels up the screen under a
// locked pointer, told as Firefox tells it (a motion by DY, the page's place
// on the screen changed), s keeps a snapshot of the canvas, x presses Escape,
// k presses a key. Steps wait for states instead of
// times: fN for N frames more (of a page that counts them), n until the
// cloth is near the pen, g until it has gone from there, t until the title
// says threads are torn, T until it says none are.
// Expected: the pen's bottom-left corner in window pixels (y up), the
// background, full screen; the status's number (null: still running at the
// end) and standard error. kernel: the exactness check's build to run instead
// of a program's page. Every scenario runs in every engine.
const scenarios = [
  { name: 'motion follows exactly, y upward; the first motion does not jump', page: 'penshell.html',
    steps: 'e m10,-7*3 m-4,2 k', pen: [346, 259], status: 0 },
  { name: 'the program name and -red', page: 'penshell.html', query: '?penshell&-red',
    steps: 'e m-30,40 k', pen: [290, 200], red: true, status: 0 },
  { name: 'inexact option words are ignored', page: 'penshell.html',
    query: '?--red&-RED&red&-reds&-F&f&-ff&-f%20&', steps: 'e c m5,5 k', pen: [325, 235], status: 0 },
  // The page scrolled under a still pointer moves no pen: motion is the pointer's.
  { name: 'a free pointer: scrolling the page under it is no motion', page: 'penshell.html',
    viewport: [800, 560], steps: 'e m10,-7 y30 m5,5 k', pen: [335, 242], status: 0 },
  // Freed, the pointer shows where it was locked: its first motion there does not jump either.
  { name: 'a click locks the pointer: motion past the edge; Escape frees it and goes on',
    page: 'penshell.html', steps: 'e c m400,0 m0,300 m-390,-290 x e m4,-6 k', pen: [334, 236], locks: true,
    status: 0 },
  // Firefox may tell full screen hiding its toolbars as such a motion.
  { name: 'a locked pointer: the page moving on the screen under it is no motion', page: 'penshell.html',
    steps: 'e c m16,-8 h86 m16,-8 k', pen: [352, 256], locks: true, status: 0 },
  { name: '-f and -red: full screen on the first click, the picture scaled', page: 'penshell.html',
    query: '?-f&-red', viewport: [1024, 768], steps: 'e c m16,-8*2', pen: [352, 256], red: true,
    full: true, status: null },
  { name: 'no WebGL: the failure message alone, status 255', page: 'penshell.html', webgl: false,
    steps: '', stderr: 'setting video mode failed.', status: 255 },
  { name: 'opened from a file, the page says why it cannot start', page: 'penshell.html', file: true,
    steps: '', status: null, says: /file:\/\// },
  { name: 'penshell-cloth: held by its foot and pulled gently, the cloth follows the pen, tears nothing; let go, it swings free',
    page: 'penshell-cloth.html', steps: 'e f240 s m0,40 p m0,5*10 n s r g f120 k', pen: [320, 150],
    cloth: true, status: 0 },
  // The torn cloth is looked at 240 frames after the yank: swinging before, it may show a gap or hide one.
  { name: 'penshell-cloth: yanked, the cloth tears over the balls; the right button starts over',
    page: 'penshell-cloth.html', steps: 'e f240 s p m-50,15*5 t r f240 s R T f240 s k', pen: [70, 165],
    cloth: true, yank: true, status: 0 },
  { name: 'penshell-cloth\'s torn cloth on the balls in WebAssembly: the native hash', clothScene: true },
  { name: "the kernel in WebAssembly with SIMD128: the native hashes", kernel: 'simd128' },
  { name: "the kernel in portable WebAssembly: the native hashes", kernel: 'portable' },
  // near: [snapshot, x, y, whether the cloth's colour is there], window pixels, y up.
  // torn: whether the page tore springs; gap: [before, after, least, most]
  // points of the cloth in snapshot `before` with no thread near in `after`.
  { name: 'springs.html: pulled gently by its edge, the cloth follows, does not tear, and swings back',
    page: 'springs.html', steps: 'e m0,-5 f60 s p m0,1+f1*50 f30 s r f300 s', status: null, torn: false,
    near: [[0, 320, 194, false], [1, 320, 194, true], [2, 320, 194, false], [1, 164, 439, true]],
    gap: [0, 2, 0, 1], balls: true },
  { name: 'springs.html: yanked, the cloth tears: a gap where threads were, the patch falls onto the balls',
    page: 'springs.html', steps: 'e m0,-60 f60 s p m40,220 f30 s r f300 s', status: null, torn: true,
    near: [[0, 360, 79, false], [1, 360, 79, true], [1, 350, 160, false], [1, 164, 439, true]],
    gap: [0, 2, 2, 1e9], balls: true },
];

// --- the expected frame -----------------------------------------------------

const pictures = {};
{
  const run = spawnSync(process.execPath, ['--no-experimental-fetch', pictureDump], { encoding: 'utf8' });
  for (const line of run.stdout.split('\n').filter(Boolean)) {
    const [name, width, , hex] = line.split(' ');
    pictures[name] = { size: Number(width), rgb: Buffer.from(hex, 'hex') };
  }
  if (!pictures.wait || !pictures.pen) throw new Error('no pictures from ' + pictureDump + ': ' + run.stderr);
}

// Background, wait icon, pen, each picture through the inverting blend
// src*(1-dst) + dst*(1-src); values 0..1, row 0 at the top.
function expectedFrame(s) {
  const px = new Float64Array(640 * 480 * 3);
  for (let i = 0; i < px.length; i += 3) px[i] = s.red ? 0.4 : 0;
  const draw = ({ size, rgb }, left, bottom) => {
    for (let row = 0; row < size; ++row)
      for (let col = 0; col < size; ++col) {
        const x = left + col, top = 479 - (bottom + size - 1 - row);
        if (x < 0 || x >= 640 || top < 0 || top >= 480) continue;
        for (let c = 0; c < 3; ++c) {
          const src = rgb[(row * size + col) * 3 + c] / 255, at = (top * 640 + x) * 3 + c;
          px[at] = src * (1 - px[at]) + px[at] * (1 - src);
        }
      }
  };
  draw(pictures.wait, 608, 0);
  draw(pictures.pen, s.pen[0], s.pen[1]);
  return px;
}

// Channels of the image off the frame by more than one step. Scaled up, each
// pixel lies within the range of the frame pixels nearest to it, so that
// linear and nearest scaling both pass.
function mismatches(image, frame) {
  const { width: w, height: h, rgb } = image;
  let bad = 0;
  for (let y = 0; y < h; ++y)
    for (let x = 0; x < w; ++x) {
      const u = (x + 0.5) * 640 / w - 0.5, v = (y + 0.5) * 480 / h - 0.5;
      for (let c = 0; c < 3; ++c) {
        let low = 1, high = 0;
        for (const j of [Math.floor(v), Math.ceil(v)])
          for (const i of [Math.floor(u), Math.ceil(u)]) {
            const f = frame[(clamp(j, 479) * 640 + clamp(i, 639)) * 3 + c];
            low = Math.min(low, f), high = Math.max(high, f);
          }
        const got = rgb[(y * w + x) * 3 + c];
        bad += got < low * 255 - 1.01 || got > high * 255 + 1.01;
      }
    }
  return bad;
}
const clamp = (v, most) => Math.min(Math.max(v, 0), most);

// A colour (r, g, b) at (x, y) in window pixels, y up; nothing lies outside the window.
function colourAt(image, x, y, [r, g, b]) {
  if (x < 0 || x >= 640 || y < 0 || y >= 480) return false;
  const p = ((479 - y) * 640 + x) * 3, rgb = image.rgb;
  return Math.abs(rgb[p] - r) <= 2 && Math.abs(rgb[p + 1] - g) <= 2 && Math.abs(rgb[p + 2] - b) <= 2;
}
// The programs' cloth threads are drawn in (1, 0.8, 0.4), penshell-cloth's
// balls in (0.55, 0.7, 0.95), springs.html's balls in (112, 144, 192).
const clothAt = (image, x, y) => colourAt(image, x, y, [255, 204, 102]);
const ballAt = (image, x, y) => colourAt(image, x, y, [140, 178, 242]);

function clothNear(image, x, y) {
  for (let j = y - 6; j <= y + 6; ++j)
    for (let i = x - 6; i <= x + 6; ++i) if (clothAt(image, i, j)) return true;
  return false;
}

// Points 12 pixels apart inside the cloth of `before` (threads there and at
// the four points around) where `after` shows no thread near: where the
// cloth tore away. A cloth that swings a little loses no inside point.
function clothGap(before, after) {
  let gap = 0;
  for (let y = 18; y < 470; y += 12)
    for (let x = 18; x < 630; x += 12) {
      const inside = [[0, 0], [12, 0], [-12, 0], [0, 12], [0, -12]].every(([dx, dy]) => clothNear(before, x + dx, y + dy));
      gap += inside && !clothNear(after, x, y);
    }
  return gap;
}

// springs.html's balls: how many pixels show them.
function ballPixels(image) {
  let seen = 0;
  for (let y = 0; y < 480; ++y)
    for (let x = 0; x < 640; ++x) seen += colourAt(image, x, y, [112, 144, 192]);
  return seen;
}

// Some ball under the cloth, in the same column.
function ballsUnderCloth(image) {
  for (let x = 0; x < 640; ++x) {
    let y = 479;
    while (y >= 0 && !clothAt(image, x, y)) --y;
    for (; y >= 0; --y) if (ballAt(image, x, y)) return true;
  }
  return false;
}

// A gap where threads were: a slit 3 pixels wide and 9 long, across or
// upright, with no thread in it, threads within 30 pixels of it on all four
// sides; the pen's square (at `pen`) left out. A whole cloth's threads
// hanging are at most 4 or 5 pixels apart: no such slit fits (pulled hard,
// its cells stretch: look once it is let go).
function gapInCloth(image, pen) {
  const clear = (x, y, hw, hh) => {
    for (let j = y - hh; j <= y + hh; ++j)
      for (let i = x - hw; i <= x + hw; ++i) if (clothAt(image, i, j)) return false;
    return true;
  };
  const within = (x, y, from, dx, dy) => {
    for (let d = from + 1; d <= from + 30; ++d) if (clothAt(image, x + d * dx, y + d * dy)) return true;
    return false;
  };
  for (let y = 20; y < 460; ++y)
    for (let x = 20; x < 620; ++x)
      for (const [hw, hh] of [[1, 4], [4, 1]])
        if ((x < pen[0] - 5 || x > pen[0] + 21 || y < pen[1] - 5 || y > pen[1] + 21) && within(x, y, hw, -1, 0) &&
            within(x, y, hw, 1, 0) && within(x, y, hh, 0, -1) && within(x, y, hh, 0, 1) && clear(x, y, hw, hh))
          return true;
  return false;
}

// --- screenshots ----------------------------------------------------------

// The 8-bit RGB or RGBA, non-interlaced PNG that Chromium writes, as RGB.
function decodePng(png) {
  let width = 0, height = 0, channels = 0;
  const data = [];
  for (let at = 8; at < png.length;) {
    const length = png.readUInt32BE(at), type = png.toString('ascii', at + 4, at + 8);
    const body = png.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0), height = body.readUInt32BE(4);
      if (body[8] !== 8 || (body[9] !== 2 && body[9] !== 6) || body[12] !== 0)
        throw new Error('unexpected PNG format');
      channels = body[9] === 6 ? 4 : 3;
    } else if (type === 'IDAT') data.push(body);
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(data)), stride = width * channels;
  const out = Buffer.alloc(stride * height), rgb = Buffer.alloc(width * height * 3);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)], line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let i = 0; i < stride; ++i) {
      const a = i >= channels ? out[y * stride + i - channels] : 0, b = y > 0 ? out[(y - 1) * stride + i] : 0;
      const c = i >= channels && y > 0 ? out[(y - 1) * stride + i - channels] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const predict = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      out[y * stride + i] = (line[i] + predict) & 255;
    }
  }
  for (let i = 0; i < width * height; ++i) out.copy(rgb, i * 3, i * channels, i * channels + 3);
  return { width, height, rgb };
}

// --- the kernel's exactness ---------------------------------------------------

// The hashes the native build gives, as its check states them.
const nativeHashes = (() => {
  const source = fs.readFileSync(fileURLToPath(new URL('../../tests/kernel_exactness.cpp', import.meta.url)), 'utf8');
  const hash = (name) => source.match(new RegExp(name + ' = 0x([0-9a-f]{16})ull'))[1];
  return { scene: hash('kSceneHash'), cloth: hash('kClothHash'), rules: hash('kRulesHash'),
    collide: hash('kCollideHash'), torn: hash('kTornHash') };
})();
const tornClothHash = fs.readFileSync(fileURLToPath(new URL('../../tests/cloth_scenes.h', import.meta.url)), 'utf8')
  .match(/kTornClothHash = 0x([0-9a-f]{16})ull/)[1];

// What is wrong with a run of the check: a line not ok, a hash not the native
// one, too few hashes, or a SIMD128 build that did not run its own path (or a
// portable one that did).
function kernelFaults(variant, out) {
  const lines = out.split('\n').filter(Boolean), faults = lines.filter((line) => !/^(ok  |skip) /.test(line));
  let hashes = 0;
  for (const line of lines) {
    const [, kind, hash] = line.match(/(scene|cloth|rules|collide|torn) hash ([0-9a-f]+)/) || [];
    if (!kind) continue;
    ++hashes;
    if (hash !== nativeHashes[kind]) faults.push(`${kind} hash ${hash}, natively ${nativeHashes[kind]}: ${line}`);
  }
  if (hashes < 8) faults.push(`${hashes} hashes`);
  const simd = lines.filter((line) => /^ok   simd128: (scene|cloth|rules|collide|torn) hash /.test(line)).length;
  if (variant === 'simd128' ? simd !== 5 : !lines.some((line) => /^skip simd128:/.test(line)))
    faults.push(variant === 'simd128' ? 'the simd128 path did not run' : 'the portable build ran a simd128 path');
  return faults;
}

// --- the harness ------------------------------------------------------------

// Frames a page has drawn so far, run in the page.
const framesDrawn = () => window.penshellFrames ?? window.springs.steps;
// Waits until `count` frames more than now are drawn.
async function framesMore(page, count) {
  const frames = await page.evaluate(framesDrawn) + count;
  await page.waitForFunction(`(${framesDrawn})() >= ${frames}`, null, { timeout: 60000 });
}

// The page counts the mouse's motions as they reach it.
const countMotions = () => window.addEventListener('mousemove', () => { window.checkMotions = (window.checkMotions || 0) + 1; }, true);

// Moves the pointer from `from` to `to` and waits until the page has its
// motion: a busy browser given the next motion before it has handled the
// last merges the two, and a locked pointer's motion is then lost.
// A move to where the pointer already is may give no motion at all.
async function moveTo(page, from, to) {
  const still = from && from[0] === to[0] && from[1] === to[1];
  const seen = await page.evaluate(() => window.checkMotions || 0);
  await page.mouse.move(to[0], to[1]);
  await page.waitForFunction((n) => (window.checkMotions || 0) > n, seen, { timeout: still ? 1000 : 10000 })
    .catch((error) => { if (!still) throw error; });
  return to;
}

// A motion of the mouse by (dx, dy) from `at`; gives where the pointer is then.
// Locked, Firefox reports each motion as the pointer's offset from the
// viewport's centre, where it keeps a real pointer, so it is given the motion
// in pieces of at most 100 pixels from the centre, back at the centre between
// them. Chromium, and a free pointer: the motion from the last position.
async function moveBy(page, engine, at, dx, dy) {
  const locked = engine === 'firefox' && await page.evaluate(() => document.pointerLockElement !== null);
  if (!locked) return moveTo(page, at, [at[0] + dx, at[1] + dy]);
  const { width, height } = page.viewportSize(), centre = [width / 2, height / 2];
  const pieces = Math.ceil(Math.max(Math.abs(dx), Math.abs(dy), 1) / 100);
  for (let i = 0; i < pieces; ++i) {
    const part = (d) => Math.round(d * (i + 1) / pieces) - Math.round(d * i / pieces);
    at = await moveTo(page, at, centre);
    at = await moveTo(page, at, [centre[0] + part(dx), centre[1] + part(dy)]);
  }
  return moveTo(page, at, centre);
}

// The last snapshot, once the program has drawn the expected frame: a busy
// machine may take a few frames to draw what the motion asked for. The
// cloth's frame is never the plain one: it is taken after a few frames.
async function drawnShot(page, s) {
  const frame = s.cloth ? null : expectedFrame(s);
  for (let tries = 0; ; ++tries) {
    await page.waitForTimeout(100);
    const shot = decodePng(await (s.full ? page : page.locator('canvas')).screenshot());
    if (s.cloth ? tries >= 2 : mismatches(shot, frame) === 0 || tries >= 40) return shot;
  }
}

async function run(s, engine, url, browsers) {
  const failures = [];
  const expect = (ok, what) => { if (!ok) failures.push(what); };
  const [vw, vh] = s.viewport || [800, 700];
  const page = await browsers[engine][s.webgl === false ? 'none' : 'webgl'].newPage({ viewport: { width: vw, height: vh } });
  const pageErrors = [];
  page.on('pageerror', (error) => pageErrors.push(error.message));
  try {
    if (s.kernel) {
      await page.goto(`${url}${buildPath}/run_check.html?kernel_exactness_${s.kernel}`);
      await page.waitForFunction(() => document.getElementById('status').textContent !== 'running', null,
        { timeout: 30000 });
      const status = await page.textContent('#status');
      expect(status === 'exited with status 0', `status "${status}"`);
      failures.push(...kernelFaults(s.kernel, await page.textContent('#out')), ...pageErrors);
      return failures;
    }
    if (s.clothScene) {
      await page.goto(`${url}${buildPath}/run_check.html?cloth_scene`);
      await page.waitForFunction(() => document.getElementById('status').textContent !== 'running', null,
        { timeout: 60000 });
      const status = await page.textContent('#status'), out = await page.textContent('#out');
      expect(status === 'exited with status 0', `status "${status}"`);
      expect(/torn gently 0,/.test(out), 'a gentle drag tore: ' + out);
      const [, hash] = out.match(/torn cloth hash ([0-9a-f]+)/) || [];
      expect(hash === tornClothHash, `hash ${hash}, natively ${tornClothHash}`);
      failures.push(...pageErrors);
      return failures;
    }
    const address = s.file ? pathToFileURL(path.join(site, s.page)).href : url + s.page;
    await page.addInitScript(countMotions);
    await page.goto(address + (s.query || ''));
    const status = () => page.textContent('#status');
    if (s.status !== null || s.says)
      await page.waitForFunction(() => !/running/.test(document.getElementById('status').textContent),
        null, { timeout: s.steps ? 1500 : 10000 }).catch(() => {});
    else
      await page.waitForTimeout(1000);
    const box = s.steps ? await page.locator('canvas').boundingBox() : null;
    let at = null;  // where the pointer is
    const snapshots = [];
    for (const step of s.steps.split(' ').filter(Boolean)) {
      const [group, times = '1'] = step.split('*');
      for (let n = 0; n < Number(times); ++n) for (const word of group.split('+')) {
        if (word === 'e') {
          at = await moveTo(page, at, [box.x + 320, box.y + 240]);
        } else if (word[0] === 'm') {
          const [dx, dy] = word.slice(1).split(',').map(Number);
          at = await moveBy(page, engine, at, dx, dy);
        } else if (word === 'c') {
          // Firefox takes playwright's own calls into the page for a user's gesture:
          // that full screen waits for the click is seen here, before it.
          if (s.full) expect(await page.evaluate(() => document.fullscreenElement === null),
            'full screen before the click');
          await page.mouse.click(at[0], at[1]);
          // What the click asks for, waited for: the pointer, and with -f the screen. A
          // motion before the lock is granted, on a loaded machine, would be a free one.
          const given = await page.waitForFunction((full) => document.pointerLockElement?.id === 'canvas' &&
            (!full || document.fullscreenElement?.id === 'canvas'), !!s.full, { timeout: 10000 })
            .then(() => true, () => false);
          if (s.locks || s.full) expect(given, s.full ? 'the click did not take the pointer and the screen'
            : 'the click did not lock the pointer');
          await framesMore(page, 2);
        } else if (word === 'p') await page.mouse.down();
        else if (word === 'r') await page.mouse.up();
        else if (word === 'R') await page.mouse.click(at[0], at[1], { button: 'right' });
        else if (word[0] === 'f') {
          // The programs' pages count frames, springs.html its steps.
          await framesMore(page, Number(word.slice(1)));
        } else if (word === 't' || word === 'T')
          await page.waitForFunction((torn) => /torn/.test(document.title) === torn, word === 't',
            { timeout: 10000 }).catch(() => expect(false, word === 't' ? 'nothing torn' : 'threads still torn'));
        else if (word === 'n' || word === 'g') {
          let near = clothNear(decodePng(await page.locator('canvas').screenshot()), ...s.pen);
          for (let tries = 0; near !== (word === 'n') && tries < 50; ++tries) {
            await page.waitForTimeout(100);
            near = clothNear(decodePng(await page.locator('canvas').screenshot()), ...s.pen);
          }
          expect(near === (word === 'n'), word === 'n' ? 'the cloth does not follow the pen' : 'the cloth was not let go');
        }
        else if (word[0] === 'w') await page.waitForTimeout(Number(word.slice(1)));
        else if (word[0] === 'y') {
          await page.evaluate((dy) => window.scrollBy(0, dy), Number(word.slice(1)));
          expect(await page.evaluate(() => window.scrollY > 0), 'the page did not scroll');
          await framesMore(page, 2);
        }
        else if (word[0] === 'h') {
          // The page's place, as Firefox gives it, first seen with a motion of nothing.
          await page.evaluate((dy) => {
            const canvas = document.getElementById('canvas'), x = window.mozInnerScreenX ?? 0;
            let y = window.mozInnerScreenY ?? 0;
            Object.defineProperty(window, 'mozInnerScreenX', { configurable: true, get: () => x });
            Object.defineProperty(window, 'mozInnerScreenY', { configurable: true, get: () => y });
            canvas.dispatchEvent(new MouseEvent('mousemove', { bubbles: true }));
            y -= dy;
            canvas.dispatchEvent(new MouseEvent('mousemove', { bubbles: true, movementY: dy }));
          }, Number(word.slice(1)));
          await framesMore(page, 2);
        }
        else if (word === 's') snapshots.push(decodePng(await page.locator('canvas').screenshot()));
        else if (word === 'x') {
          await page.keyboard.press('Escape');
          await page.waitForTimeout(200);
          expect(await page.evaluate(() => document.pointerLockElement === null), 'Escape kept the pointer locked');
          expect(/running/.test(await status()), 'Escape ended the program');
        } else if (word === 'k') {
          if (s.pen) snapshots.push(await drawnShot(page, s));
          await page.keyboard.press('a');
        } else throw new Error('unknown step ' + word);
      }
    }
    if (s.pen && !s.steps.includes('k')) snapshots.push(await drawnShot(page, s));
    for (const [shot, x, y, there] of s.near || [])
      expect(clothNear(snapshots[shot], x, y) === there, `snapshot ${shot}: the cloth ${there ? 'not ' : ''}at (${x}, ${y})`);
    if (s.torn !== undefined) {
      const torn = await page.evaluate(() => window.springs.torn);
      expect((torn > 0) === s.torn, `${torn} springs torn`);
    }
    if (s.gap) {
      const [before, after, least, most] = s.gap, gap = clothGap(snapshots[before], snapshots[after]);
      expect(gap >= least && gap <= most, `${gap} points of the cloth with no thread left near`);
    }
    if (s.balls) {
      const seen = ballPixels(snapshots[snapshots.length - 1]);
      expect(seen > 5000, `${seen} pixels of balls`);
    }
    if (s.pen) expect(await page.evaluate(() => document.fullscreenElement?.id === 'canvas') === !!s.full,
      s.full ? 'not full screen' : 'full screen');
    if (s.pen) {
      const last = snapshots[snapshots.length - 1], frame = expectedFrame(s);
      if (s.cloth) {
        const [hanging, pulled, again] = snapshots;
        expect(!clothNear(hanging, ...s.pen), 'the cloth hangs where it is to be pulled');
        expect(!gapInCloth(hanging, [320, 240]), 'a gap in the cloth as it hangs');
        expect(ballsUnderCloth(hanging), 'no balls under the cloth');
        if (s.yank) {
          expect(gapInCloth(pulled, s.pen), 'no gap where the threads tore');
          expect(ballsUnderCloth(pulled), 'no balls under the torn cloth');
          expect(!gapInCloth(again, s.pen), 'started over, the cloth has a gap');
        } else {
          expect(clothNear(pulled, ...s.pen), 'the cloth does not follow the pen');
          expect(!gapInCloth(last, s.pen), 'a gentle pull tears the cloth');
          expect(!/torn/.test(await page.title()), 'torn: ' + await page.title());
        }
        expect(!clothNear(last, ...s.pen), 'the cloth was not let go');
        // The pen is drawn as penshell draws it; the cloth anywhere else is as shown.
        for (let y = 0; y < 480; ++y)
          for (let x = 0; x < 640; ++x)
            if (x < s.pen[0] || x >= s.pen[0] + 16 || y < s.pen[1] || y >= s.pen[1] + 16)
              for (let c = 0; c < 3; ++c)
                frame[((479 - y) * 640 + x) * 3 + c] = last.rgb[((479 - y) * 640 + x) * 3 + c] / 255;
      }
      const off = mismatches(last, frame);
      expect(off === 0, `${off} channels off the expected frame`);
      if (shots) fs.writeFileSync(path.join(shots, engine + '-' + s.page.replace('.html', '') + '-' +
        scenarios.indexOf(s) + '.png'), await page.screenshot());
    }
    if (s.status !== null) {
      await page.waitForFunction(() => /exited/.test(document.getElementById('status').textContent),
        null, { timeout: 5000 }).catch(() => {});
      const program = s.page.replace('.html', '');
      expect(await status() === `${program} exited with status ${s.status}`, `status "${await status()}"`);
    } else if (s.says) {
      expect(s.says.test(await status()), `status "${await status()}"`);
    } else {
      expect(/running/.test(await status()), `status "${await status()}"`);
    }
    const stderr = await page.textContent('#stderr').catch(() => '');
    expect(stderr === (s.stderr || ''), `standard error ${JSON.stringify(stderr)}`);
    expect(pageErrors.length === 0, 'page errors: ' + pageErrors.join('; '));
  } catch (error) {
    failures.push(String(error.message || error).split('\n')[0]);
  } finally {
    await page.context().close();
  }
  return failures;
}

const { server, url } = await serveSite(site);
const browsers = {};
let passed = 0, failed = 0;
try {
  // Every engine, with WebGL and without, starting together: Firefox takes seconds.
  const launches = engines.flatMap((engine) => [true, false].map((webgl) => ({ engine, webgl })));
  const started = await Promise.allSettled(launches.map(({ engine, webgl }) => launchEngine(engine, { webgl })));
  started.forEach((launch, i) => {
    if (launch.status === 'fulfilled')
      (browsers[launches[i].engine] ??= {})[launches[i].webgl ? 'webgl' : 'none'] = launch.value;
  });
  const refused = started.filter((launch) => launch.status === 'rejected');
  for (const launch of refused) console.log('FAIL ' + String(launch.reason.message || launch.reason).split('\n')[0]);
  failed += refused.length;
  // The engines side by side, each its scenarios in turn; printed in the table's order.
  const results = await Promise.all((refused.length ? [] : engines).map(async (engine) => {
    const lines = [];
    for (const s of scenarios) {
      const failures = await run(s, engine, url, browsers);
      lines.push(`${failures.length ? 'FAIL' : 'ok  '} ${engine.padEnd(8)} ${s.name}` +
        failures.map((f) => '\n       ' + f).join(''));
      failures.length ? ++failed : ++passed;
    }
    return lines;
  }));
  for (const lines of results) console.log(lines.join('\n'));
} finally {
  for (const engine of Object.values(browsers))
    for (const browser of Object.values(engine)) await browser.close();
  server.close();
}
console.log(`${passed} passed, ${failed} failed`);
process.exitCode = failed ? 1 : 0;
