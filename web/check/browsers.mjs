// The browsers a page is checked in, headless, driven by playwright-core:
// Debian's Chromium (WebGL through SwiftShader) and Debian's Firefox ESR
// (WebGL on Mesa's llvmpipe), each with WebGL or with none. Playwright gives
// each launch a new, empty profile, and removes it on close (also when node is
// interrupted). A launch checks that WebGL is there exactly when asked for, so
// that a check never passes without testing what it was meant to.
//   const browser = await launchEngine('firefox', { webgl: false });
//   const page = await browser.newPage();  // a context of its own, focused
//   ...
//   await browser.close();
import { chromium, firefox } from 'playwright-core';

export const engines = ['chromium', 'firefox'];

const quiet = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const swiftshader = ['--use-gl=swiftshader', '--enable-unsafe-swiftshader', '--ignore-gpu-blocklist'];

function launchChromium(webgl) {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: [...quiet, ...(webgl ? swiftshader : ['--disable-webgl', '--disable-3d-apis'])],
  });
}

// Firefox ESR rates llvmpipe below its WebGL threshold: it draws there only
// when forced by both the pref and the environment (either alone: no context).
// Its headless screen is 1366x768 whatever the viewport, and full screen takes
// the screen while screenshots show the viewport: the screen is made the size
// of the largest viewport the checks use, as Chromium's full screen is its viewport.
// Playwright's own Firefox is patched and cannot be fetched here; the 'moz-firefox'
// channel drives a stock one over WebDriver BiDi.
function launchFirefox(webgl) {
  const prefs = webgl ? { 'webgl.force-enabled': true } : { 'webgl.disabled': true };
  return firefox.launch({
    channel: 'moz-firefox',
    executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr',
    headless: true,
    firefoxUserPrefs: {
      ...prefs,
      'app.update.enabled': false,
      'browser.shell.checkDefaultBrowser': false,
      'datareporting.policy.dataSubmissionEnabled': false,
      'toolkit.telemetry.enabled': false,
    },
    env: {
      ...process.env, MOZ_HEADLESS_WIDTH: '1024', MOZ_HEADLESS_HEIGHT: '768',
      ...(webgl ? { MOZ_WEBGL_FORCE_EGL: '1' } : {}),
    },
  });
}

// Whether a fresh page of the browser can draw with WebGL, and on what.
async function webglRenderer(browser) {
  const page = await browser.newPage();
  try {
    return await page.evaluate(() => {
      const gl = document.createElement('canvas').getContext('webgl');
      return gl ? String(gl.getParameter(gl.RENDERER)) : null;
    });
  } finally {
    await page.context().close();
  }
}

// The engine named (one of `engines`), launched, with WebGL or without; throws,
// leaving nothing running, when it cannot start or WebGL is not as asked.
export async function launchEngine(name, { webgl = true } = {}) {
  if (!engines.includes(name)) throw new Error('unknown engine ' + name);
  const browser = await (name === 'firefox' ? launchFirefox : launchChromium)(webgl);
  try {
    const renderer = await webglRenderer(browser);
    if (webgl && renderer === null) throw new Error(`${name}: no WebGL although asked for`);
    if (!webgl && renderer !== null) throw new Error(`${name}: WebGL (${renderer}) although turned off`);
  } catch (error) {
    await browser.close();
    throw error;
  }
  return browser;
}
