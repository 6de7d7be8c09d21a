// Benchmark (not a test): opens a generated document of 300,000 leaves in headless chromium and
// prints the time to first render, to a zoom and back, to a hover and to a search. Also times the
// same boxes drawn as DOM elements, the measurement behind drawing on a canvas, and the first
// render of a comparison of the document with a later build of it.
//   node bench/bench.mjs [leaves] [document.json]
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { writeDocument } from './generate.mjs';
import { launch, pageUrl } from '../test/browser.mjs';

const leaves = Number(process.argv[2] || 300000);
let file = process.argv[3];
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlith-bench-'));
process.on('exit', () => fs.rmSync(scratch, { recursive: true, force: true }));
if (!file) {
  file = path.join(scratch, 'big.json');
  const bytes = writeDocument(file, leaves, 1);
  console.log(`generated ${leaves} leaves, ${(bytes / 1e6).toFixed(1)} MB: ${file}`);
}

const browser = await launch({ width: 1600, height: 1000 });
const page = await browser.newPage();
const t0 = Date.now();
await page.goto(pageUrl({ data: file }));
await page.waitForFunction(() => window.vorlithViewer && window.vorlithViewer.state !== 'loading', null, { timeout: 120000 });
const first = await page.evaluate(() => ({ at: performance.now(), state: window.vorlithViewer.state, stats: window.vorlithViewer.stats() }));
if (first.state !== 'ready') throw new Error('page did not open the document: ' + first.state);
const fmt = (ms) => ms.toFixed(0).padStart(6) + ' ms';
console.log(`first render (navigation to drawn)  ${fmt(first.stats.drawnAt)}   [wall ${Date.now() - t0} ms]`);
console.log(`  of which loading the script        ${fmt(first.stats.loadMs)}`);
console.log(`  layout / draw                      ${fmt(first.stats.layoutMs)} / ${fmt(first.stats.drawMs)}, ${first.stats.boxes} boxes`);

// Time from the hash change to the next frame after the draw, as a user sees it.
async function timeNav(hash) {
  return page.evaluate(async (h) => {
    const t = performance.now();
    location.hash = h;
    await new Promise((r) => window.addEventListener('hashchange', r, { once: true }));
    await new Promise((r) => requestAnimationFrame(() => setTimeout(r, 0)));
    return { ms: performance.now() - t, stats: window.vorlithViewer.stats() };
  }, hash);
}
async function domComparison() {
  const dom = await page.evaluate(async () => {
  const boxes = window.vorlithViewer.boxes();
  const host = document.createElement('div');
  host.style.cssText = 'position:fixed;left:0;top:0;width:1200px;height:800px;overflow:hidden;font:11px sans-serif';
  const t = performance.now();
  for (const b of boxes) {
    const d = document.createElement('div');
    d.style.cssText = `position:absolute;left:${b.x0}px;top:${b.y0}px;width:${b.x1 - b.x0}px;height:${b.y1 - b.y0}px;background:${b.fill};border:1px solid rgba(0,0,0,.3);overflow:hidden;white-space:nowrap`;
    if (b.x1 - b.x0 > 24 && b.y1 - b.y0 > 12) d.textContent = b.name || '';
    host.appendChild(d);
  }
  document.body.appendChild(host);
  host.getBoundingClientRect();
  await new Promise((r) => requestAnimationFrame(() => setTimeout(r, 0)));
  const ms = performance.now() - t;
  host.remove();
  return { ms, n: boxes.length, canvas: window.vorlithViewer.stats().drawMs };
});
console.log(`same ${dom.n} boxes as DOM elements  ${fmt(dom.ms)}   vs canvas draw ${dom.canvas.toFixed(0)} ms`);
}

const biggest = await page.evaluate(() => {
  const b = window.vorlithViewer.boxes().filter((x) => x.depth === 1 && !x.isLeaf && !x.rest);
  return b[0].path;
});
const zoomHash = '#/' + biggest.map(encodeURIComponent).join('/');
const zin = await timeNav(zoomHash);
console.log(`zoom into "${biggest.join('/')}"${' '.repeat(Math.max(0, 14 - biggest.join('/').length))}  ${fmt(zin.ms)}   (layout ${zin.stats.layoutMs.toFixed(0)} ms, draw ${zin.stats.drawMs.toFixed(0)} ms, ${zin.stats.boxes} boxes)`);
await domComparison();
const zout = await timeNav('#');
console.log(`zoom out to the root                 ${fmt(zout.ms)}   (layout ${zout.stats.layoutMs.toFixed(0)} ms, draw ${zout.stats.drawMs.toFixed(0)} ms)`);

const hover = await page.evaluate(() => {
  const canvas = document.getElementById('canvas');
  const r = canvas.getBoundingClientRect();
  let worst = 0;
  let sum = 0;
  const n = 200;
  for (let i = 0; i < n; i++) {
    const x = r.left + ((i * 97) % r.width);
    const y = r.top + ((i * 61) % r.height);
    const t = performance.now();
    canvas.dispatchEvent(new MouseEvent('mousemove', { clientX: x, clientY: y, bubbles: true }));
    document.getElementById('tooltip').getBoundingClientRect();
    const ms = performance.now() - t;
    worst = Math.max(worst, ms);
    sum += ms;
  }
  return { mean: sum / n, worst };
});
console.log(`hover (hit test + tooltip), 200 moves  mean ${hover.mean.toFixed(2)} ms, worst ${hover.worst.toFixed(2)} ms`);

const searchMs = await page.evaluate(async () => {
  const input = document.getElementById('search');
  input.value = 'parse';
  const t = performance.now();
  input.dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter' }));
  await new Promise((r) => requestAnimationFrame(() => setTimeout(r, 0)));
  return performance.now() - t;
});
console.log(`search "parse" over all nodes        ${fmt(searchMs)}`);

// The comparison of the document with a later build of it.
const later = path.join(scratch, 'later.json');
writeDocument(later, leaves, 1, true);
const cmp = await browser.newPage();
await cmp.goto(pageUrl({ data: later, base: file }));
await cmp.waitForFunction(() => window.vorlithViewer && window.vorlithViewer.state !== 'loading', null, { timeout: 180000 });
const c = await cmp.evaluate(() => ({ state: window.vorlithViewer.state, stats: window.vorlithViewer.stats() }));
if (c.state !== 'ready') throw new Error('comparison did not open: ' + c.state);
console.log(`comparison first render (two documents) ${fmt(c.stats.drawnAt)}   (loading both ${c.stats.loadMs.toFixed(0)} ms, matching ${c.stats.buildMs.toFixed(0)} ms)`);

await browser.close();
