// Frames a second of a program's page in each headless engine, counted by the
// page (window.penshellFrames) over a few seconds after the cloth has fallen,
// while the pen pulls the cloth back and forth. Usage:
// node frame_rate.mjs SITE [PAGE] [SECONDS]
import { engines, launchEngine } from './browsers.mjs';
import { serveSite } from '../serve.mjs';

const [site, pageName = 'penshell-cloth.html', seconds = '5'] = process.argv.slice(2);
const { server, url } = await serveSite(site);
try {
  for (const engine of engines) {
    const browser = await launchEngine(engine);
    try {
      const page = await browser.newPage({ viewport: { width: 800, height: 700 } });
      await page.goto(url + pageName);
      const box = await page.locator('canvas').boundingBox();
      const at = [box.x + 320, box.y + 240];
      await page.mouse.move(at[0], at[1]);
      await page.waitForFunction(() => window.penshellFrames >= 120, null, { timeout: 60000 });
      await page.mouse.down();
      const start = await page.evaluate(() => [window.penshellFrames, performance.now()]);
      const end = Date.now() + Number(seconds) * 1000;
      for (let i = 0; Date.now() < end; ++i) {
        await page.mouse.move(at[0] + (i % 40 < 20 ? i % 20 : 20 - i % 20) * 3, at[1] + 20);
        await page.waitForTimeout(30);
      }
      const stop = await page.evaluate(() => [window.penshellFrames, performance.now()]);
      console.log(`${engine.padEnd(8)} ${pageName}: ${((stop[0] - start[0]) * 1000 / (stop[1] - start[1])).toFixed(1)} frames a second`);
    } finally {
      await browser.close();
    }
  }
} finally {
  server.close();
}
