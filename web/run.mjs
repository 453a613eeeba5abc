// make web without a display: opens a program's page in headless Chromium,
// clicks it (taking the pointer, and the screen with -f), moves the pen,
// saves a screenshot, presses a key and prints how the program ended.
// Usage: node run.mjs SITE PAGE SCREENSHOT [ARGS...]
import { launchEngine } from './check/browsers.mjs';
import { serveSite } from './serve.mjs';

const [site, page_name, screenshot, ...args] = process.argv.slice(2);
const query = args.length ? '?' + args.map(encodeURIComponent).join('&') : '';
const full = args.includes('-f');
const { server, url } = await serveSite(site);
const browser = await launchEngine('chromium');
let status = '';
try {
  const page = await browser.newPage({ viewport: full ? { width: 1024, height: 768 } : { width: 704, height: 600 } });
  await page.goto(url + page_name + query);
  await page.waitForTimeout(1500);
  const box = await page.locator('canvas').boundingBox();
  await page.mouse.move(box.x + 320, box.y + 240);
  await page.mouse.click(box.x + 320, box.y + 240);
  for (let i = 0; i < 12; ++i) {
    await page.mouse.move(box.x + 320 + 6 * (i + 1), box.y + 240 - 8 * (i + 1));
    await page.waitForTimeout(50);
  }
  await page.waitForTimeout(300);
  await page.screenshot({ path: screenshot });
  await page.keyboard.press('Space');
  await page.waitForFunction(() => /exited|stopped|cannot/.test(document.getElementById('status').textContent),
    null, { timeout: 5000 }).catch(() => {});
  status = await page.textContent('#status');
  const stderr = await page.textContent('#stderr');
  if (stderr) console.log(stderr);
} finally {
  await browser.close();
  server.close();
}
console.log('Screenshot: ' + screenshot);
console.log(status);
process.exitCode = /exited with status 0$/.test(status) ? 0 : 1;
