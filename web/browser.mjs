// Debian's Chromium, headless, driven by playwright-core; WebGL through
// SwiftShader, or none at all. Playwright gives each launch a new, empty
// profile and removes it on close.
import { chromium } from 'playwright-core';

const quiet = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const swiftshader = ['--use-gl=swiftshader', '--enable-unsafe-swiftshader', '--ignore-gpu-blocklist'];

export function launchChromium({ webgl = true } = {}) {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: [...quiet, ...(webgl ? swiftshader : ['--disable-webgl', '--disable-3d-apis'])],
  });
}
