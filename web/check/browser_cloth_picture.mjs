// docs/browser-cloth.png: penshell-cloth in headless Chromium, torn along half
// its pins by yanks of the pen as make demo tears it, lying on the balls.
// Usage: node browser_cloth_picture.mjs SITE OUT.png
import { launchEngine } from './browsers.mjs';
import { serveSite } from '../serve.mjs';

const [site, out] = process.argv.slice(2);
const { server, url } = await serveSite(site);
const browser = await launchEngine('chromium');
try {
  const page = await browser.newPage({ viewport: { width: 704, height: 600 } });
  await page.goto(url + 'penshell-cloth.html');
  const box = await page.locator('canvas').boundingBox();
  const at = (x, y) => [box.x + x, box.y + 480 - y];  // window pixels, y up
  const frames = (n) => page.evaluate(() => window.penshellFrames).then((now) =>
    page.waitForFunction((until) => window.penshellFrames >= until, now + n, { timeout: 60000 }));
  await page.mouse.move(...at(320, 240));
  await frames(300);
  for (let i = 0; i < 13; ++i) {
    const x = 196 + 12 * i;
    await page.mouse.move(...at(x, 372), { steps: 4 });
    await frames(2);
    await page.mouse.down();
    await page.mouse.move(...at(x, 312));
    await page.mouse.move(...at(x, 252));
    await frames(6);
    await page.mouse.up();
    await frames(10);
  }
  await page.mouse.move(...at(500, 360), { steps: 4 });
  await frames(240);
  await page.screenshot({ path: out });
} finally {
  await browser.close();
  server.close();
}
