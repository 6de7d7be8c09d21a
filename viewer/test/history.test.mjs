// The trend page that `vorlith history DB --html=FILE` writes, opened alone in headless Chromium:
// it runs under its own Content-Security-Policy and asks for nothing, names (of symbols, groups
// and runs) stay text, and the figures it shows for each run agree with the documents of the
// same runs: the real builds of tests/data/history/, and builds of a map with hostile names.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { launch, repoDir, tempDir, watchDialogsAndPolicy } from './browser.mjs';
import { HOSTILE_GROUP, HOSTILE_NAMES, groupAt, hostileMapText, readDocument } from './documents.mjs';
import { vorlithBin } from './reports.mjs';

const bin = vorlithBin();
const W = 960;  // the chart's viewBox, as history.js draws it
const LEFT = 78;
const RIGHT = 16;

// Records `maps` in order (each [file, label]) into a new history; returns the page, alone in a
// directory of its own, and the documents of the runs.
function makeHistory(maps) {
  const work = tempDir('vorlith-trend-');
  const docs = maps.map(([map, label], k) => {
    const doc = path.join(work, `run${k}.json`);
    execFileSync(bin, ['--record=size.db', '--label=' + label, map, doc], { cwd: work });
    return readDocument(doc);
  });
  execFileSync(bin, ['history', '--html=trend.html', 'size.db'], { cwd: work, stdio: 'ignore' });
  const alone = tempDir('vorlith-trend-alone-');
  fs.copyFileSync(path.join(work, 'trend.html'), path.join(alone, 'trend.html'));
  return { url: pathToFileURL(path.join(alone, 'trend.html')).href, file: path.join(alone, 'trend.html'), docs };
}

// The hostile map with sizes scaled by `factor`: the same names, other figures.
function hostileMap(dir, name, factor) {
  const text = hostileMapText().replace(/0x0000000000401([0-9a-f]{3})/g, (m, low) =>
    '0x' + (0x401000 + Math.round(parseInt(low, 16) * factor)).toString(16).padStart(16, '0'));
  const file = path.join(dir, name);
  fs.writeFileSync(file, text);
  return file;
}

describe('trend page', { skip: !bin && 'no vorlith executable (set VORLITH_BIN)' }, () => {
  let browser;
  let dialogs;
  let real;
  let hostile;
  const labels = ['<b>v1</b>', 'v2 & "more"', '</script><script>window.__pwned=9</script>'];
  before(async () => {
    const dir = path.join(repoDir, 'tests', 'data', 'history');
    real = makeHistory(fs.readdirSync(dir).filter((f) => f.endsWith('.map')).sort()
      .map((f) => [path.join(dir, f), f.replace('.map', '')]));
    const maps = tempDir('vorlith-trend-maps-');
    hostile = makeHistory([1, 1.5, 0.75].map((factor, k) => [hostileMap(maps, `h${k}.map`, factor), labels[k]]));
    browser = await launch();
    dialogs = await watchDialogsAndPolicy(browser);
  });
  after(async () => {
    if (browser) await browser.close();
  });

  async function open(url) {
    const page = await browser.newPage();
    await page.goto(url);
    await page.waitForFunction(() => window.vorlithHistory && window.vorlithHistory.state !== 'loading', null, { timeout: 0 });
    assert.equal(await page.evaluate(() => window.vorlithHistory.state), 'ready');
    return page;
  }

  // Hovers over run r and reads the figures the page shows: [{item, name, bytes, change}].
  async function figuresAt(page, r, runs) {
    const box = await page.locator('#chart').boundingBox();
    const x = LEFT + (runs > 1 ? (r * (W - LEFT - RIGHT)) / (runs - 1) : (W - LEFT - RIGHT) / 2);
    await page.mouse.move(box.x + (x / W) * box.width, box.y + box.height / 2);
    await page.waitForFunction((run) => document.getElementById('tip').dataset.run === String(run), r);
    return page.$$eval('#tip tr', (rows) => rows.map((tr) => ({
      name: tr.cells[0].textContent,
      bytes: Number(tr.querySelector('.size').dataset.bytes),
      change: tr.querySelector('.change').textContent,
    })));
  }

  it('opens offline under its own policy, carries its history as data and asks for nothing', async () => {
    const html = fs.readFileSync(real.file, 'utf8');
    assert.doesNotMatch(html, /<script[^>]* src=|<link[^>]* href=/, 'a file the page would have to fetch');
    const csp = /<meta http-equiv="Content-Security-Policy" content="([^"]*)">/.exec(html);
    assert.ok(csp, 'no policy');
    assert.match(csp[1], /script-src( 'sha256-[A-Za-z0-9+/]+=*')+(;|$)/);
    assert.match(csp[1], /default-src 'none'/);
    const page = await open(real.url);
    assert.deepEqual(await page.evaluate(() => window.__violations), []);
    assert.deepEqual(browser.requests.filter((u) => u !== real.url), []);
    assert.deepEqual(browser.errors, []);
    await page.close();
  });

  it('shows for every run of real builds the totals and changes of the documents', async () => {
    const page = await open(real.url);
    const runs = real.docs.length;
    assert.equal(await page.locator('#chart .series').count() > 1, true, 'no lines drawn');
    for (let r = 0; r < runs; r++) {
      const figures = await figuresAt(page, r, runs);
      assert.equal(figures[0].name, 'Total');
      assert.equal(figures[0].bytes, real.docs[r].total, `run ${r + 1}`);
      if (r > 0) {
        const delta = real.docs[r].total - real.docs[r - 1].total;
        assert.equal(figures[0].change, delta === 0 ? '0' : (delta > 0 ? '+' : '') + delta);
      }
      // Every line of a top-level group shows that group's total in this run's document.
      for (const f of figures.slice(1)) {
        const group = real.docs[r].children[f.name];
        assert.equal(f.bytes, group ? group.total : 0, `${f.name} in run ${r + 1}`);
      }
    }
    await page.close();
  });

  it('follows a group, and lists what changed between two runs down to symbols', async () => {
    const page = await open(real.url);
    const runs = real.docs.length;
    const last = real.docs[runs - 1];
    // Follow the largest group drawn, by its name in the legend.
    const name = (await page.$$eval('#legend button', (bs) => bs.map((b) => b.textContent)))[1];
    await page.locator('#legend button').nth(1).click();
    await page.waitForFunction((n) => [...document.querySelectorAll('#crumbs button')].map((b) => b.textContent).join('/') === 'Whole program/' + n, name);
    const figures = await figuresAt(page, runs - 1, runs);
    assert.equal(figures[0].bytes, last.children[name].total);
    for (const f of figures.slice(1)) {
      assert.equal(f.bytes, groupAt(last, [name, f.name]).total, f.name);
    }
    // The first and the last run compared, under the followed group.
    await page.selectOption('#from', '0');
    await page.selectOption('#to', String(runs - 1));
    const rows = await page.$$eval('#changes tbody tr', (trs) => trs.map((tr) => ({
      name: tr.cells[0].firstChild.textContent,
      symbol: tr.querySelector('.symbol') !== null,
      from: Number(tr.querySelector('.from').textContent),
      to: Number(tr.querySelector('.to').textContent),
    })));
    assert.ok(rows.length > 0, 'nothing changed under ' + name);
    const sizeIn = (doc, row) => {
      const group = doc.children[name];
      if (!group) return 0;
      const item = row.symbol ? group.leaves[row.name] : group.children[row.name];
      return item ? (row.symbol ? item.size : item.total) : 0;
    };
    for (const row of rows) {
      assert.equal(row.from, sizeIn(real.docs[0], row), row.name);
      assert.equal(row.to, sizeIn(last, row), row.name);
    }
    // Back to the whole program by its breadcrumb.
    await page.locator('#crumbs button').first().click();
    assert.equal((await figuresAt(page, runs - 1, runs))[0].bytes, last.total);
    assert.deepEqual(browser.errors, []);
    await page.close();
  });

  it('shows names of symbols, groups and runs as text', async () => {
    const page = await open(hostile.url);
    const runs = hostile.docs.length;
    const options = await page.$$eval('#from option', (os) => os.map((o) => o.textContent));
    assert.deepEqual(options, labels.map((l, k) => `${k + 1}: ${l}`));
    await figuresAt(page, 2, runs);
    assert.match(await page.locator('#tip .run-label').textContent(), /window\.__pwned=9/);
    // Follow down to the hostile symbols: first the group that holds them.
    await page.selectOption('#from', '0');
    await page.selectOption('#to', '1');
    const shown = new Set();
    for (;;) {
      const names = await page.$$eval('#changes tbody td.name', (tds) => tds.map((td) => td.firstChild.textContent));
      names.forEach((n) => shown.add(n));
      const groups = await page.$$('#changes tbody td.name button');
      if (!groups.length || HOSTILE_NAMES.every((n) => shown.has(n))) break;
      await groups[0].click();
    }
    for (const n of HOSTILE_NAMES) assert.ok(shown.has(n), n + ' in ' + JSON.stringify([...shown]));
    // The group named like an image element is in the page's data, and no element came of it.
    const data = await page.evaluate(() => JSON.parse(document.getElementById('vorlith-history').textContent));
    assert.ok(data.items.some((item) => item[1] === HOSTILE_GROUP));
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    assert.equal(await page.locator('img, iframe, body svg:not(#chart)').count(), 0, 'an element made from a name');
    assert.deepEqual(dialogs, []);
    assert.deepEqual(await page.evaluate(() => window.__violations), []);
    assert.deepEqual(browser.requests.filter((u) => u !== hostile.url && u !== real.url), []);
    assert.deepEqual(browser.errors, []);
    await page.close();
  });
});
