// The installed package in a browser: page.html imports it as an ES module
// (through an import map to the entry node resolves) from a server on
// 127.0.0.1, computes the scene hashes with each build, and must give
// the native ones. The engine is a parameter: node browser.mjs chromium|firefox.
// Run in the scratch project by run.sh; needs PENSHELL_ROOT and the hashes.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const engine = process.argv[2];
const root = process.env.PENSHELL_ROOT;
const here = path.dirname(fileURLToPath(import.meta.url));
const { serveSite } = await import(`${root}/web/serve.mjs`);
// The engines as the site's check launches them (playwright-core as pinned by
// web/package-lock.json); the package needs no WebGL.
const { engines, launchEngine } = await import(`${root}/web/check/browsers.mjs`);
if (!engines.includes(engine)) throw new Error(`unknown engine ${engine}: ${engines.join(' or ')}`);

const entry = '/' + path.relative(here, fileURLToPath(import.meta.resolve('penshell-physics')));
fs.writeFileSync(path.join(here, 'index.html'), fs.readFileSync(path.join(here, 'page.html'), 'utf8')
  .replace('@ENTRY@', entry));

const want = { cloth: process.env.PENSHELL_CLOTH_HASH, scene: process.env.PENSHELL_SCENE_HASH,
  rules: process.env.PENSHELL_RULES_HASH, oneHold: process.env.PENSHELL_ONE_HOLD_HASH,
  balls: process.env.PENSHELL_BALLS_HASH, collide: process.env.PENSHELL_COLLIDE_HASH,
  torn: process.env.PENSHELL_TORN_HASH };
const { server, url } = await serveSite(here);
let browser;
const failures = [];
try {
  browser = await launchEngine(engine, { webgl: false });
  const page = await browser.newPage();
  page.on('pageerror', (error) => failures.push(`page error: ${error.message}`));
  await page.goto(url + 'index.html');
  const results = await page.waitForFunction(() => window.results, null, { timeout: 60000 })
    .then((handle) => handle.jsonValue());
  if (results.error) failures.push(results.error);
  for (const simd of ['true', 'false', 'auto']) {
    const r = results[simd];
    if (!r) continue;
    const build = simd === 'auto' ? results.simdSupported : simd === 'true';
    if (r.simd !== build) failures.push(`simd: ${simd} ran the ${r.simd ? 'SIMD128' : 'portable'} build`);
    for (const scene of Object.keys(want))
      if (r[scene] !== want[scene]) failures.push(`simd: ${simd}: ${scene} hash ${r[scene]}, native ${want[scene]}`);
  }
  console.log(`${failures.length ? 'FAIL' : 'ok  '} ${engine} ${browser.version()}: the package imported as an ES ` +
    `module gives the native hashes with simd true, false and 'auto' (SIMD128 ${results.simdSupported ? 'there' : 'absent'})` +
    failures.map((f) => '\n       ' + f).join(''));
} finally {
  await browser?.close();
  server.close();
}
process.exitCode = failures.length ? 1 : 0;
