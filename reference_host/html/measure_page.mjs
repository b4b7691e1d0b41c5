// Measures the 3-D page for long paths: for a helix of 10^4, 10^5 and 10^6
// samples, the page's size and the time from opening it in headless Chromium
// (SwiftShader's WebGL) to its first picture, the best of three loads.
//
//   node reference_host/html/measure_page.mjs VESTREL_HOST NODE_MODULES [WORK]
import { createRequire } from 'node:module';
import { execFileSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync, statSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const [host, modules, workArgument] = process.argv.slice(2);
const require = createRequire(path.join(path.resolve(modules), 'index.js'));
const puppeteer = require('puppeteer-core');
const work = workArgument || mkdtempSync(path.join(os.tmpdir(), 'vestrel-page-measure-'));
mkdirSync(work, { recursive: true });

const profile = mkdtempSync(path.join(os.tmpdir(), 'vestrel-chromium-'));
const browser = await puppeteer.launch({
  executablePath: process.env.VESTREL_CHROMIUM || '/usr/bin/chromium', headless: true, pipe: true,
  userDataDir: profile,
  args: ['--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--no-sandbox', '--disable-gpu',
    '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--disable-quic'],
});
console.log('| samples | points stored | page size | first picture (best of 3) |');
console.log('|---:|---:|---:|---:|');
for (const samples of [1e4, 1e5, 1e6]) {
  const name = `helix-${samples}`;
  const scene = path.join(work, name + '.json');
  writeFileSync(scene, JSON.stringify({
    name, frames: { first: 0, last: samples - 1 },
    objects: [{ name: 'Vestrel group' }, { name: 'climber', parent: 0,
      motion: { type: 'helix', center: [0, 0, 0], radius: 4, frames_per_turn: samples / 10, rise_per_turn: 3, axis: 'z' } }],
  }));
  const page = path.join(work, name + '.html');
  execFileSync(host, ['play', scene, '--html', page, '--max-frames', String(samples)], { stdio: 'ignore' });
  let best = Infinity, stored = 0;
  for (let run = 0; run < 3; ++run) {
    const tab = await browser.newPage();
    await tab.setViewport({ width: 1200, height: 800 });
    const started = Date.now();
    await tab.goto(pathToFileURL(page).href);
    await tab.waitForSelector('body[data-ready]', { timeout: 120000 });
    await tab.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => resolve())));
    best = Math.min(best, (Date.now() - started) / 1000);
    stored = await tab.evaluate(() => window.vestrel.page.instances[0].data.pointsStored);
    await tab.close();
  }
  const megabytes = statSync(page).size / 1e6;
  console.log(`| ${samples.toLocaleString('en')} | ${stored} | ${megabytes.toFixed(2)} MB | ${best.toFixed(2)} s |`);
}
await browser.close();
rmSync(profile, { recursive: true, force: true });
