// Finding, opening and moving around, in headless chromium on real documents: search by path and
// regular expression with its count and total, the members of a "smaller items" box, the legend
// that hides kinds and totals the current view, the keyboard (focus, arrows, Enter, Backspace,
// "/"), and the comparison naming both documents as given, with readable labels.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { launch, openPage, pageUrl, relativeToPage, tempDir } from './browser.mjs';
import { documents, flatLeaves, groupAt, readDocument } from './documents.mjs';

const require = createRequire(import.meta.url);
const M = require('../model.js');
const S = require('../search.js');
const docs = documents();
const sample = docs.all.find((d) => d.file === docs.sample);
let browser;

before(async () => {
  // A small window, so that real documents have boxes too small to draw one by one.
  browser = await launch({ width: 760, height: 560 });
});
after(async () => {
  await browser.close();
});

const boxes = (page) => page.evaluate(() => window.vorlithViewer.boxes());
const viewPath = (page) => page.evaluate(() => window.vorlithViewer.viewPath());
const focusPath = (page) => page.evaluate(() => window.vorlithViewer.focusPath());
const waitForView = (page, want) => page.waitForFunction((w) => JSON.stringify(window.vorlithViewer.viewPath()) === w, JSON.stringify(want));
const modelOf = (file) => M.buildModel(M.parseDocumentText(fs.readFileSync(file, 'utf8')));
const human = (n) => M.humanSize(n);

describe('search in the page', () => {
  it('shows the count and total of path, scope and regex queries, and lists the matches in the table', async () => {
    const root = modelOf(sample.file);
    const page = await openPage(browser, { data: sample.file });
    for (const q of ['std.format.internal', 'format \u203a internal', 'std/conv', '/^std\\.(conv|format)\\./', 'writeln']) {
      const want = S.search(root, q, 200);
      assert.ok(want.count > 0, q);
      await page.fill('#search', q);
      await page.press('#search', 'Enter');
      await page.waitForFunction((n) => document.getElementById('search-count').dataset.count === String(n), want.count);
      const count = page.locator('#search-count');
      assert.equal(Number(await count.getAttribute('data-bytes')), want.bytes, q);
      assert.match(await count.textContent(), new RegExp('^' + want.count.toLocaleString('en-US') + ' match.*' + M.exactBytes(want.bytes).replace(/[.*+?^${}()|[\]\\]/g, '\\$&')));
      const rows = await page.$$eval('#table tbody tr', (trs) => trs.map((tr) => [tr.querySelector('.name').textContent, tr.cells[1].textContent]));
      assert.deepEqual(rows.map((r) => r[1]), want.top.map((n) => human(n.size)), q);
      assert.deepEqual(rows.map((r) => r[0]).sort(), want.top.map((n) => n.name).sort(), q);
    }
    // A bad expression says so and matches nothing; clearing the box restores the table.
    await page.fill('#search', '/(/');
    await page.press('#search', 'Enter');
    await page.waitForFunction(() => /Not a valid regular expression/.test(document.getElementById('search-count').textContent));
    await page.press('#search', 'Escape');
    await page.locator('#search-panel').waitFor({ state: 'hidden' });
    assert.match(await page.locator('#table-title').textContent(), /^Largest symbols/);
    await page.close();
  });

  it('finds names made of regular-expression metacharacters and markup, as text', async () => {
    const doc = readDocument(docs.hostile);
    const page = await openPage(browser, { data: docs.hostile });
    for (const l of flatLeaves(doc).filter((x) => /[<>"(]/.test(x.key))) {
      await page.fill('#search', l.key);
      await page.press('#search', 'Enter');
      await page.waitForFunction(() => !document.getElementById('search-panel').hidden);
      const names = await page.$$eval('#table tbody .name', (els) => els.map((e) => e.textContent));
      assert.ok(names.includes(l.key), l.key + ' in ' + names.join(' | '));
    }
    await page.fill('#search', '/^<img src=[xz]/');
    await page.press('#search', 'Enter');
    await page.waitForFunction(() => Number(document.getElementById('search-count').dataset.count) >= 2);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    await page.close();
  });
});

// The first of a document's views (the 40 largest groups, breadth first) holding a "smaller
// items" box among its own children.
async function viewWithRest(page, doc) {
  const queue = [[]];
  for (let tried = 0; queue.length && tried < 40; tried++) {
    const p = queue.shift();
    await page.evaluate((h) => { location.hash = h; }, p.length ? '#/' + p.map(encodeURIComponent).join('/') : '#');
    await waitForView(page, p);
    const rest = (await boxes(page)).find((b) => b.depth === 1 && b.rest && (b.x1 - b.x0) * (b.y1 - b.y0) > 12);
    if (rest) return { path: p, rest };
    const g = groupAt(doc, p);
    for (const name of Object.keys(g.children).sort((a, b) => g.children[b].total - g.children[a].total)) queue.push(p.concat(name));
  }
  return null;
}

describe('smaller items', () => {
  it('opens a "smaller items" box into the list of its members, largest first, each reachable', async () => {
    // The sample (classic, then modern), then the other real documents, until a view shows
    // such a box.
    let doc, page, found = null;
    const candidates = [sample, ...docs.all.filter((x) => x !== sample)];
    if (docs.classicSample) candidates.unshift({ file: docs.classicSample });
    for (const d of candidates) {
      doc = readDocument(d.file);
      page = await openPage(browser, { data: d.file });
      found = await viewWithRest(page, doc);
      if (found) break;
      await page.close();
    }
    assert.ok(found, 'some view has a smaller-items box');
    const drawn = new Set((await boxes(page)).filter((b) => b.depth === 1 && !b.rest).map((b) => b.name));
    const g = groupAt(doc, found.path);
    const members = Object.entries(g.children).map(([k, c]) => [k, c.total]).concat(Object.entries(g.leaves).map(([k, l]) => [k, l.size]))
      .filter(([k]) => !drawn.has(k)).sort((a, b) => b[1] - a[1] || (a[0] < b[0] ? -1 : 1));
    assert.equal(found.rest.rest, members.length);
    assert.equal(found.rest.size, members.reduce((s, m) => s + m[1], 0));
    const r = await page.locator('#canvas').boundingBox();
    await page.mouse.click(r.x + (found.rest.x0 + found.rest.x1) / 2, r.y + (found.rest.y0 + found.rest.y1) / 2);
    await page.locator('#members-panel').waitFor({ state: 'visible' });
    const listed = await page.$$eval('#members li', (lis) => lis.map((li) => [li.querySelector('.name').textContent, li.querySelector('.size').textContent]));
    assert.deepEqual(listed.map((x) => x[0]), members.map((m) => m[0]));
    assert.deepEqual(listed.map((x) => x[1]), members.map((m) => human(m[1]) + ' (' + M.exactBytes(m[1]) + ')'));
    assert.match(await page.locator('#members-title').textContent(), new RegExp('^' + members.length + ' smaller items'));
    // A member group opens; a member symbol is selected and its details shown.
    const leafMember = members.find(([k]) => Object.hasOwn(g.leaves, k));
    const groupMember = members.find(([k]) => Object.hasOwn(g.children, k));
    if (leafMember) {
      await page.locator('#members li').nth(members.indexOf(leafMember)).click();
      await page.locator('#details-panel').waitFor({ state: 'visible' });
      const details = await page.locator('#details').innerText();
      assert.ok(details.includes(g.leaves[leafMember[0]].mangledName), details);
    }
    if (groupMember) {
      await page.locator('#members li').nth(members.indexOf(groupMember)).click();
      await waitForView(page, found.path.concat(groupMember[0]));
    }
    assert.ok(leafMember || groupMember);
    await page.close();
  });

  it('lists a box of thousands of members a page at a time, all of them reachable', async () => {
    // One large symbol and 2,500 small ones, as vorlith would write them.
    const leaves = { big: { size: 1 << 24, address: 4096, mangledName: 'big', demangledName: '' } };
    let total = 1 << 24;
    for (let i = 0; i < 2500; i++) {
      leaves['s' + i] = { size: 1 + (i % 97), address: 8192 + i * 128, mangledName: 's' + i, demangledName: '' };
      total += 1 + (i % 97);
    }
    const file = path.join(tempDir('vorlith-many-'), 'many.json');
    fs.writeFileSync(file, 'var treeData = ' + JSON.stringify({ total, children: {}, leaves }));
    const page = await openPage(browser, { data: file });
    const rest = (await boxes(page)).find((b) => b.rest);
    assert.ok(rest && rest.rest > 1000, 'most symbols are in one box');
    await page.locator('#map').focus();
    await page.keyboard.press('End');
    assert.equal((await focusPath(page)).rest, true);
    await page.keyboard.press('Enter');
    await page.locator('#members-panel').waitFor({ state: 'visible' });
    // The keyboard lands in the list.
    assert.equal(await page.evaluate(() => document.activeElement.closest('#members') !== null), true);
    for (;;) {
      const more = page.locator('#members-more');
      if (await more.isHidden()) break;
      await more.click();
    }
    const sizes = await page.$$eval('#members li', (lis) => lis.map((li) => li.querySelector('.name').textContent));
    assert.equal(sizes.length, rest.rest);
    assert.equal(new Set(sizes).size, rest.rest);
    // Escape in the list closes it and gives the focus back to the map.
    await page.locator('#members li').last().focus();
    await page.keyboard.press('Escape');
    await page.locator('#members-panel').waitFor({ state: 'hidden' });
    assert.equal(await page.evaluate(() => document.activeElement.id), 'map');
    assert.deepEqual(await viewPath(page), []);
    await page.close();
  });
});

describe('legend', () => {
  it('hides and shows a kind, laying the map out again, and totals the current view', async () => {
    const doc = readDocument(sample.file);
    const page = await openPage(browser, { data: sample.file });
    const legend = async () => page.$$eval('#legend li', (lis) => lis.map((li) => ({
      kind: li.dataset.kind, bytes: Number(li.dataset.bytes), pressed: li.querySelector('button').getAttribute('aria-pressed'),
    })));
    const all = await legend();
    assert.ok(all.length >= 2, 'several kinds');
    assert.equal(all.reduce((s, l) => s + l.bytes, 0), doc.total);
    const kind = all[0].kind;
    const hidden = all[0].bytes;
    // With the keyboard: the legend's buttons take focus and Space presses them.
    await page.locator(`#legend li[data-kind="${kind}"] button`).focus();
    await page.keyboard.press('Space');
    await page.waitForFunction((k) => document.querySelector(`#legend li[data-kind="${k}"] button`).getAttribute('aria-pressed') === 'false', kind);
    let top = (await boxes(page)).filter((b) => b.depth === 1);
    assert.ok(top.every((b) => b.kind !== kind));
    assert.equal(top.reduce((s, b) => s + b.size, 0), doc.total - hidden);
    const { width, height } = await page.locator('#canvas').boundingBox();
    assert.ok(Math.abs(top.reduce((s, b) => s + (b.x1 - b.x0) * (b.y1 - b.y0), 0) - width * height) < 1, 'the rest fills the map');
    assert.match(await page.locator('#summary').textContent(), new RegExp(human(hidden).replace('.', '\\.') + ' hidden by the legend'));
    await page.click(`#legend li[data-kind="${kind}"] button`);
    top = (await boxes(page)).filter((b) => b.depth === 1);
    assert.equal(top.reduce((s, b) => s + b.size, 0), doc.total);

    // Zoomed in, the legend totals that group only.
    const [name, g] = Object.entries(doc.children).sort((a, b) => b[1].total - a[1].total)[0];
    await page.evaluate((h) => { location.hash = h; }, '#/' + encodeURIComponent(name));
    await waitForView(page, [name]);
    const inGroup = await legend();
    assert.equal(inGroup.reduce((s, l) => s + l.bytes, 0), g.total);
    await page.close();
  });
});

describe('keyboard', () => {
  it('reaches the map by Tab, shows and names the focused box, and moves, opens and leaves with keys', async () => {
    const doc = readDocument(sample.file);
    const page = await openPage(browser, { data: sample.file });
    const visited = [];
    for (let i = 0; i < 20 && visited[visited.length - 1] !== 'map'; i++) {
      await page.keyboard.press('Tab');
      visited.push(await page.evaluate(() => document.activeElement.id));
    }
    assert.equal(visited[visited.length - 1], 'map');
    // The buttons that open files come first, then the search box.
    assert.deepEqual(visited.filter((id) => ['file', 'base-file', 'search'].includes(id)), ['file', 'base-file', 'search']);
    assert.equal(await page.getAttribute('#map', 'role'), 'application');
    assert.match(await page.getAttribute('#map', 'aria-label'), /^Treemap of the whole program/);
    assert.equal(await page.getAttribute('#focus-text', 'aria-live'), 'polite');
    const top = (await boxes(page)).filter((b) => b.depth === 1);
    // The largest box has the focus, outlined on the overlay and described for screen readers.
    let f = await focusPath(page);
    assert.deepEqual(f.path, top[0].path);
    const described = await page.locator('#focus-text').textContent();
    assert.ok(described.startsWith(top[0].name + ', '), described);
    assert.ok(described.includes(human(top[0].size)), described);
    const ring = await page.evaluate(([x, y]) => {
      const c = document.getElementById('overlay');
      const s = c.width / c.clientWidth;
      return Array.from(c.getContext('2d').getImageData(Math.floor(x * s), Math.floor(y * s), 1, 1).data);
    }, [top[0].x0 + 2.5, (top[0].y0 + top[0].y1) / 2]);
    assert.deepEqual(ring, [11, 87, 208, 255], 'the focus ring is drawn');

    // Arrows go the way they point; Page Down reaches every box in turn.
    const centre = (b) => [(b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2];
    const boxAt = (p) => top.find((b) => JSON.stringify(b.path) === JSON.stringify(p.path) && !!b.rest === p.rest);
    for (const [key, axis, sign] of [['ArrowRight', 0, 1], ['ArrowDown', 1, 1], ['ArrowLeft', 0, -1], ['ArrowUp', 1, -1]]) {
      const before = boxAt(await focusPath(page));
      await page.keyboard.press(key);
      const afterBox = boxAt(await focusPath(page));
      if (afterBox !== before) assert.ok((centre(afterBox)[axis] - centre(before)[axis]) * sign > 0, key);
    }
    await page.keyboard.press('Home');
    const seen = [];
    for (let i = 0; i < top.length; i++) {
      seen.push(boxAt(await focusPath(page)));
      await page.keyboard.press('PageDown');
    }
    assert.deepEqual(seen, top);

    // Enter opens the largest group, Backspace comes back with the focus on it.
    const group = top.find((b) => !b.isLeaf && !b.rest);
    await page.keyboard.press('Home');
    while (JSON.stringify((await focusPath(page)).path) !== JSON.stringify(group.path) || (await focusPath(page)).rest) await page.keyboard.press('PageDown');
    await page.keyboard.press('Enter');
    await waitForView(page, group.path);
    assert.match(await page.getAttribute('#map', 'aria-label'), new RegExp('^Treemap of ' + group.path.join(' \u203a ').replace(/[.*+?^${}()|[\]\\]/g, '\\$&')));
    const inner = (await boxes(page)).filter((b) => b.depth === 1);
    f = await focusPath(page);
    assert.deepEqual(f.path, inner[0].path);
    assert.ok((await page.locator('#focus-text').textContent()).startsWith(inner[0].name ?? ''));
    assert.equal(inner.reduce((s, b) => s + b.size, 0), groupAt(doc, group.path).total);
    await page.keyboard.press('Backspace');
    await waitForView(page, []);
    assert.deepEqual((await focusPath(page)).path, group.path);
    await page.keyboard.press('Enter');
    await waitForView(page, group.path);
    await page.keyboard.press('Escape');
    await waitForView(page, []);

    // "/" goes to the search box from the map.
    await page.keyboard.press('/');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'search');
    await page.close();
  });

  it('selects a symbol with Enter and opens rows of the table with Enter', async () => {
    const page = await openPage(browser, { data: sample.file });
    const leaf = (await boxes(page)).find((b) => b.depth === 1 && b.isLeaf);
    await page.locator('#map').focus();
    if (leaf) {
      await page.keyboard.press('Home');
      while (JSON.stringify((await focusPath(page)).path) !== JSON.stringify(leaf.path)) await page.keyboard.press('PageDown');
      await page.keyboard.press('Enter');
      await page.locator('#details-panel').waitFor({ state: 'visible' });
      assert.match(await page.locator('#details').innerText(), new RegExp(leaf.name.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')));
    }
    const row = page.locator('#table tbody tr').first();
    const name = await row.locator('.name').textContent();
    await row.focus();
    await page.keyboard.press('Enter');
    await page.waitForFunction((n) => document.querySelector('#details dd')?.textContent === n, name);
    await page.close();
  });
});

describe('comparison', () => {
  it('names both documents as they were given, even when their file names are the same', async () => {
    const dir = tempDir('vorlith-names-');
    const oldFile = path.join(dir, 'release-1.0', 'app.json');
    const newFile = path.join(dir, 'release-1.1', 'app.json');
    fs.mkdirSync(path.dirname(oldFile));
    fs.mkdirSync(path.dirname(newFile));
    fs.copyFileSync(docs.before, oldFile);
    fs.copyFileSync(docs.after, newFile);
    const page = await openPage(browser, { data: newFile, base: oldFile });
    const oldLine = await page.locator('#compare-totals [data-key="old"]').textContent();
    const newLine = await page.locator('#compare-totals [data-key="new"]').textContent();
    assert.equal(oldLine, 'Old build: ' + relativeToPage(oldFile) + ' \u2013 ' + M.exactBytes(readDocument(oldFile).total));
    assert.equal(newLine, 'New build: ' + relativeToPage(newFile) + ' \u2013 ' + M.exactBytes(readDocument(newFile).total));
    await page.close();
  });

  it('writes every label in the ink of higher contrast on its box', async () => {
    const lum = (fill) => {
      let rgb;
      const hex = /^#([0-9a-f]{6})$/i.exec(fill);
      const hsl = /^hsl\(([\d.]+),([\d.]+)%,([\d.]+)%\)$/.exec(fill);
      if (hex) rgb = [0, 2, 4].map((i) => parseInt(hex[1].slice(i, i + 2), 16) / 255);
      else if (hsl) {
        const [h, s, l] = [Number(hsl[1]), hsl[2] / 100, hsl[3] / 100];
        const a = s * Math.min(l, 1 - l);
        rgb = [0, 8, 4].map((n) => {
          const k = (n + h / 30) % 12;
          return l - a * Math.max(-1, Math.min(k - 3, 9 - k, 1));
        });
      } else throw new Error('unknown colour ' + fill);
      const lin = (v) => (v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4);
      return 0.2126 * lin(rgb[0]) + 0.7152 * lin(rgb[1]) + 0.0722 * lin(rgb[2]);
    };
    const contrast = (a, b) => (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
    for (const opts of [{ data: docs.after, base: docs.before }, { data: sample.file }]) {
      const page = await openPage(browser, opts);
      const all = await boxes(page);
      const fills = new Set();
      for (const b of all) {
        const l = lum(b.fill);
        const best = contrast(l, 1) >= contrast(l, 0) ? '#fff' : '#111';
        assert.equal(b.ink, best, `${b.fill} (${(b.path || []).join('/')})`);
        fills.add(b.fill);
      }
      if (opts.base) assert.ok(all.some((b) => b.ink === '#fff') && all.some((b) => b.ink === '#111'), 'dark and light boxes both drawn');
      await page.close();
    }
  });
});
