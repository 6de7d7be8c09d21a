// The treemap page in headless chromium, on real vorlith documents: layout, loading and its
// failures, zoom and history, hover, search, the symbol table, hostile names, staying offline,
// and the screenshot for the README.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { launch, openPage, pageUrl, tempDir, viewerDir } from './browser.mjs';
import { HOSTILE_GROUP, documents, flatLeaves, groupAt, readDocument } from './documents.mjs';

const docs = documents();
let browser;

before(async () => {
  browser = await launch();
});
after(async () => {
  await browser.close();
});

// Deepest-nested document: the navigation tests want groups within groups.
function nestedDocument() {
  const depth = (n) => 1 + Math.max(0, ...Object.values(n.children).map(depth));
  return docs.all.map((d) => ({ ...d, depth: depth(readDocument(d.file)) })).sort((a, b) => b.depth - a.depth)[0];
}

async function boxes(page) {
  return page.evaluate(() => window.vorlithViewer.boxes());
}

async function viewPath(page) {
  return page.evaluate(() => window.vorlithViewer.viewPath());
}

// Page coordinates of a box's centre (or of a point inside its header band).
async function pointIn(page, box, { header = false } = {}) {
  const r = await page.locator('#canvas').boundingBox();
  const x = r.x + (box.x0 + box.x1) / 2;
  const y = r.y + (header ? box.y0 + 6 : (box.y0 + box.y1) / 2);
  return { x, y };
}

async function clickBox(page, box, opts) {
  const { x, y } = await pointIn(page, box, opts);
  await page.mouse.click(x, y);
}

async function waitForView(page, segments) {
  await page.waitForFunction((want) => JSON.stringify(window.vorlithViewer.viewPath()) === JSON.stringify(want), segments);
}

const samePath = (a, b) => JSON.stringify(a) === JSON.stringify(b);
const area = (b) => (b.x1 - b.x0) * (b.y1 - b.y0);

describe('layout', () => {
  it(`draws every document (${docs.source}) with areas proportional to sizes`, async () => {
    for (const d of docs.all) {
      const doc = readDocument(d.file);
      const page = await openPage(browser, { data: d.file });
      assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'ready', d.name);
      const all = await boxes(page);
      const { width, height } = await page.locator('#canvas').boundingBox();
      const top = all.filter((b) => b.depth === 1);
      // The top level tiles the whole canvas, and its sizes add up to the document's total.
      assert.ok(Math.abs(top.reduce((s, b) => s + area(b), 0) - width * height) < 1, d.name);
      assert.equal(top.reduce((s, b) => s + b.size, 0), doc.total, d.name);
      const scale = (width * height) / doc.total;
      for (const b of top) {
        assert.ok(Math.abs(area(b) - b.size * scale) <= 1e-6 * width * height, `${d.name}: ${b.name}`);
        if (!b.rest) assert.equal(b.size, b.isLeaf ? groupAt(doc, b.path.slice(0, -1)).leaves[b.name].size : groupAt(doc, b.path).total);
      }
      // Within an opened group, children share its inner area in proportion too.
      for (const g of all.filter((b) => b.expanded)) {
        const kids = all.filter((b) => b.depth === g.depth + 1 && samePath(b.path.slice(0, g.path.length), g.path) &&
          b.x0 >= g.x0 - 1e-6 && b.x1 <= g.x1 + 1e-6 && b.y0 >= g.y0 - 1e-6 && b.y1 <= g.y1 + 1e-6);
        const inner = kids.reduce((s, b) => s + area(b), 0);
        if (inner < 1) continue;
        for (const k of kids) assert.ok(Math.abs(area(k) / inner - k.size / g.size) < 1e-6, `${d.name}: ${k.path.join('/')}`);
      }
      // The canvas really was painted where the largest box is.
      const big = top.reduce((a, b) => (area(b) > area(a) ? b : a));
      const painted = await page.evaluate(([x, y]) => {
        const c = document.getElementById('canvas');
        const s = c.width / c.clientWidth;
        return Array.from(c.getContext('2d').getImageData(Math.floor(x * s), Math.floor(y * s), 1, 1).data);
      }, [(big.x0 + big.x1) / 2, big.y1 - 2]);
      assert.equal(painted[3], 255, `${d.name}: canvas painted`);
      await page.close();
    }
  });

  it('lays the view out again when the window is resized', async () => {
    const d = docs.all[0];
    const page = await openPage(browser, { data: d.file });
    await page.setViewportSize({ width: 900, height: 640 });
    await page.waitForFunction(() => {
      const c = document.getElementById('canvas').getBoundingClientRect();
      const top = window.vorlithViewer.boxes().filter((b) => b.depth === 1);
      const covered = top.reduce((s, b) => s + (b.x1 - b.x0) * (b.y1 - b.y0), 0);
      return c.width < 600 && Math.abs(covered - c.width * c.height) < 1;
    });
    await page.close();
  });

  it('shows a legend of the top-level kinds present, with their sizes', async () => {
    const d = docs.all.find((x) => /gnu-ld-c-static/.test(x.name)) || docs.all[0];
    const doc = readDocument(d.file);
    const page = await openPage(browser, { data: d.file });
    const legend = await page.$$eval('#legend li', (lis) => lis.map((li) => li.dataset.kind));
    assert.ok(legend.length >= 1);
    if (doc.children['C symbols']) assert.ok(legend.includes('c'));
    if (doc.children['/']) assert.ok(legend.includes('obj'));
    if (doc.children.Afterpadding) assert.ok(legend.includes('pad'));
    assert.equal(new Set(legend).size, legend.length, 'each kind once');
    await page.close();
  });
});

describe('loading', () => {
  const tmp = tempDir('vorlith-bad-');
  const write = (name, text) => {
    const f = path.join(tmp, name);
    fs.writeFileSync(f, text);
    return f;
  };

  it('loads a path relative to the page through ?data=', async () => {
    const rel = path.relative(viewerDir, docs.all[0].file).split(path.sep).join('/');
    const page = await browser.newPage();
    await page.goto(pageUrl() + '?data=' + encodeURIComponent(rel));
    await page.waitForFunction(() => window.vorlithViewer.state !== 'loading');
    assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'ready');
    await page.close();
  });

  it('explains a missing, a malformed and a wrongly shaped document in the page', async () => {
    const cases = [
      [path.join(tmp, 'missing.json'), /Could not load .*missing\.json.*missing or cannot be read/],
      [write('truncated.json', 'var treeData = {"total":12,"children":{'), /truncated\.json.* is not a vorlith document/],
      [write('other.js', 'var somethingElse = 1;'), /other\.js.* is not a vorlith document: it does not assign treeData/],
      [write('shape.json', 'var treeData = {"total":"12","children":{},"leaves":{}}'), /not a valid vorlith document: "total" of group the root/],
      [write('leaf.json', 'var treeData = {"total":1,"children":{},"leaves":{"f":{"size":1}}}'), /"address" of symbol "f"/],
    ];
    for (const [file, re] of cases) {
      const page = await openPage(browser, { data: file });
      assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'error', file);
      const msg = page.locator('#message');
      assert.ok(await msg.isVisible(), file);
      assert.match(await msg.textContent(), re);
      await page.close();
    }
  });

  it('refuses a chosen document that gives a member twice, and says when totals disagree', async () => {
    const leaf = '{"size":4,"address":4096,"mangledName":"f","demangledName":""}';
    const page = await openPage(browser, {});
    await page.setInputFiles('#file', write('twice.json', 'var treeData = {"total":4,"children":{},"leaves":{"f":' + leaf + ',"f":' + leaf + '}}'));
    await page.waitForFunction(() => window.vorlithViewer.state === 'error');
    assert.match(await page.locator('#message').textContent(), /twice\.json.*the member "f" is twice in one object/);
    await page.setInputFiles('#file', write('sums.json', 'var treeData = {"total":9,"children":{},"leaves":{"f":' + leaf + '}}'));
    await page.waitForFunction(() => window.vorlithViewer.state === 'ready');
    const msg = page.locator('#message');
    assert.ok(await msg.isVisible());
    assert.match(await msg.textContent(), /The totals of "sums\.json" disagree with its contents: the whole program says 9 bytes, but its groups and symbols add up to 4\./);
    await page.close();
  });

  it('without a document says how to open one', async () => {
    const page = await openPage(browser, {});
    assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'empty');
    assert.match(await page.locator('#intro').textContent(), /\?data=PATH/);
    await page.close();
  });

  it('opens a chosen file and a dropped file, and rejects a bad one', async () => {
    const d = docs.all[0];
    const doc = readDocument(d.file);
    const page = await openPage(browser, {});
    await page.setInputFiles('#file', d.file);
    await page.waitForFunction(() => window.vorlithViewer.state === 'ready');
    assert.equal(await page.evaluate(() => window.vorlithViewer.boxes().filter((b) => b.depth === 1).reduce((s, b) => s + b.size, 0)), doc.total);

    const other = docs.all[docs.all.length - 1];
    const text = fs.readFileSync(other.file, 'utf8');
    await page.evaluate((t) => {
      const dt = new DataTransfer();
      dt.items.add(new File([t], 'dropped.json'));
      window.dispatchEvent(new DragEvent('drop', { dataTransfer: dt, bubbles: true, cancelable: true }));
    }, text);
    const total = readDocument(other.file).total;
    await page.waitForFunction((t) => window.vorlithViewer.boxes().filter((b) => b.depth === 1).reduce((s, b) => s + b.size, 0) === t, total);

    await page.evaluate(() => {
      const dt = new DataTransfer();
      dt.items.add(new File(['not json at all'], 'bad.json'));
      window.dispatchEvent(new DragEvent('drop', { dataTransfer: dt, bubbles: true, cancelable: true }));
    });
    await page.waitForFunction(() => window.vorlithViewer.state === 'error');
    assert.match(await page.locator('#message').textContent(), /bad\.json.*not valid JSON/);
    await page.close();
  });
});

describe('static server', () => {
  // Its own browser, so the offline check below sees only file:// requests.
  it('opens the same page and document over http from a local static server', async () => {
    const doc = docs.all[0];
    const root = path.dirname(viewerDir);
    const server = http.createServer((req, res) => {
      const url = new URL(req.url, 'http://localhost');
      const file = url.pathname.startsWith('/doc/') ? doc.file : path.join(viewerDir, decodeURIComponent(url.pathname));
      if (!file.startsWith(root) && file !== doc.file) return res.writeHead(403).end();
      fs.readFile(file, (err, data) => (err ? res.writeHead(404).end() : res.writeHead(200).end(data)));
    });
    await new Promise((r) => server.listen(0, '127.0.0.1', r));
    const own = await launch();
    try {
      const page = await own.newPage();
      await page.goto(`http://127.0.0.1:${server.address().port}/index.html?data=doc/d.json`);
      await page.waitForFunction(() => window.vorlithViewer && window.vorlithViewer.state !== 'loading');
      assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'ready');
      const total = await page.evaluate(() => window.vorlithViewer.boxes().filter((b) => b.depth === 1).reduce((s, b) => s + b.size, 0));
      assert.equal(total, readDocument(doc.file).total);
      assert.deepEqual(own.requests.filter((u) => !u.startsWith('http://127.0.0.1:')), []);
    } finally {
      await own.close();
      server.close();
    }
  });
});

describe('zoom and history', () => {
  const d = nestedDocument();

  it('zooms in on click, shows breadcrumbs, and zooms out by breadcrumb and back button', async () => {
    const doc = readDocument(d.file);
    const page = await openPage(browser, { data: d.file });
    const top = (await boxes(page)).filter((b) => b.depth === 1 && !b.isLeaf && !b.rest);
    const target = top.find((b) => Object.keys(groupAt(doc, b.path).children).length) || top[0];
    await clickBox(page, target, { header: target.expanded });
    await waitForView(page, target.path);
    assert.equal(decodeURIComponent(new URL(page.url()).hash), '#/' + target.path.join('/'));
    assert.deepEqual(await page.$$eval('#crumbs > *:not(.sep)', (els) => els.map((e) => e.textContent)), ['All', ...target.path]);
    // The zoomed view fills the canvas with the group's contents.
    const inner = (await boxes(page)).filter((b) => b.depth === 1);
    assert.equal(inner.reduce((s, b) => s + b.size, 0), groupAt(doc, target.path).total);
    assert.ok(inner.every((b) => samePath(b.path.slice(0, target.path.length), target.path)));

    // One level deeper, through a sub-group.
    const sub = inner.find((b) => !b.isLeaf && !b.rest);
    if (sub) {
      await clickBox(page, sub, { header: sub.expanded });
      await waitForView(page, sub.path);
      await page.goBack();
      await waitForView(page, target.path);
      await page.goForward();
      await waitForView(page, sub.path);
    }
    await page.click('#crumbs a:first-child');
    await waitForView(page, []);
    await page.goBack();
    await waitForView(page, sub ? sub.path : target.path);
    await page.close();
  });

  it('opens a bookmarked fragment, and says so when a group does not exist', async () => {
    const all = readDocument(d.file);
    const deep = [];
    for (let n = all; Object.keys(n.children).length;) {
      const name = Object.keys(n.children).sort((a, b) => n.children[b].total - n.children[a].total)[0];
      deep.push(name);
      n = n.children[name];
    }
    const hash = '#/' + deep.map(encodeURIComponent).join('/');
    let page = await openPage(browser, { data: d.file, hash });
    assert.deepEqual(await viewPath(page), deep);
    assert.ok(!(await page.locator('#message').isVisible()));
    await page.close();

    page = await openPage(browser, { data: d.file, hash: '#/' + encodeURIComponent(deep[0]) + '/no%20such%20group' });
    assert.deepEqual(await viewPath(page), [deep[0]]);
    assert.match(await page.locator('#message').textContent(), /no group "no such group"/);
    await page.close();
  });

  it('navigates groups whose names hold slashes', async () => {
    const d2 = docs.all.find((x) => readDocument(x.file).children['/']);
    if (!d2) return; // no object-path group among these documents
    const page = await openPage(browser, { data: d2.file, hash: '#/%2F' });
    assert.deepEqual(await viewPath(page), ['/']);
    const kids = (await boxes(page)).filter((b) => b.depth === 1 && !b.isLeaf && !b.rest);
    await clickBox(page, kids[0], { header: kids[0].expanded });
    await waitForView(page, kids[0].path);
    assert.equal(kids[0].path[0], '/');
    await page.close();
  });
});

describe('hover', () => {
  it('shows path, size, shares, address and both names of a symbol', async () => {
    const d = nestedDocument();
    const doc = readDocument(d.file);
    const page = await openPage(browser, { data: d.file });
    const all = await boxes(page);
    // The largest symbol box with a demangled name, else the largest symbol box.
    const leaves = all.filter((b) => b.isLeaf && area(b) > 40).map((b) => ({ b, l: groupAt(doc, b.path.slice(0, -1)).leaves[b.name] }));
    assert.ok(leaves.length, 'some symbol is drawn');
    const pick = leaves.find((x) => x.l.demangledName) || leaves[0];
    const { x, y } = await pointIn(page, pick.b);
    await page.mouse.move(x, y);
    const tip = page.locator('#tooltip');
    await tip.waitFor({ state: 'visible' });
    const text = await tip.innerText();
    const parent = groupAt(doc, pick.b.path.slice(0, -1));
    const parentTotal = pick.b.path.length > 1 ? parent.total : doc.total;
    const pct = (p, w) => (100 * p / w >= 10 ? (100 * p / w).toFixed(1) : (100 * p / w).toFixed(2)) + '%';
    assert.equal(await tip.locator('.title').textContent(), pick.b.name);
    assert.equal(await tip.locator('.path').textContent(), ['All', ...pick.b.path].join(' \u203a '));
    assert.ok(text.includes(pick.l.size.toLocaleString('en-US') + ' B'), text);
    assert.ok(text.includes('0x' + pick.l.address.toString(16).padStart(pick.l.address > 0xffffffff ? 16 : 8, '0')), text);
    assert.ok(text.includes(pick.l.mangledName), text);
    if (pick.l.demangledName) assert.ok(text.includes(pick.l.demangledName), text);
    if (pick.l.size !== parentTotal) assert.ok(text.includes(pct(pick.l.size, parentTotal)), text);
    assert.ok(text.includes(pct(pick.l.size, doc.total)) || pick.l.size / doc.total < 1e-4, text);

    // A group shows its symbol count; leaving the canvas hides the tooltip.
    const group = all.find((b) => b.depth === 1 && !b.isLeaf && !b.rest);
    if (group) {
      const p = await pointIn(page, group, { header: group.expanded });
      await page.mouse.move(p.x, p.y);
      await page.waitForFunction((n) => document.querySelector('#tooltip .title').textContent === n, group.name);
      const count = flatLeaves(groupAt(doc, group.path)).length;
      assert.ok((await tip.innerText()).includes(count.toLocaleString('en-US')));
    }
    await page.mouse.move(1, 1);
    await tip.waitFor({ state: 'hidden' });
    await page.close();
  });
});

describe('search', () => {
  it('counts and lists the largest matches, highlights them, and zooms to a clicked one', async () => {
    const d = docs.sample ? docs.all.find((x) => x.file === docs.sample) : docs.all[0];
    const doc = readDocument(d.file);
    const leaves = flatLeaves(doc);
    // Query: a word from the largest symbol's mangled name, so it matches something.
    const biggest = leaves.reduce((a, b) => (b.size > a.size ? b : a));
    const query = (biggest.key.match(/[A-Za-z]{3,}/) || [biggest.key])[0].toUpperCase();
    const hit = (s) => s.toLowerCase().includes(query.toLowerCase());
    const groups = [];
    const walk = (n, p) => Object.entries(n.children).forEach(([k, c]) => {
      if (hit(k)) groups.push({ size: c.total, path: p.concat(k) });
      walk(c, p.concat(k));
    });
    walk(doc, []);
    const matching = leaves.filter((l) => hit(l.key) || hit(l.mangledName) || hit(l.demangledName));
    const sizes = matching.map((l) => l.size).concat(groups.map((g) => g.size)).sort((a, b) => b - a);

    const page = await openPage(browser, { data: d.file });
    await page.fill('#search', query);
    await page.locator('#search-panel').waitFor({ state: 'visible' });
    const count = await page.locator('#search-count').textContent();
    assert.match(count, new RegExp('^' + sizes.length.toLocaleString('en-US') + ' match'));
    const items = page.locator('#table tbody tr');
    assert.equal(await items.count(), Math.min(200, sizes.length));
    const first = await items.first().locator('.name').textContent();
    const shown = await items.evaluateAll((trs) => trs.map((tr) => tr.cells[1].textContent));
    assert.equal(shown[0], (await page.evaluate((n) => VorlithModel.humanSize(n), sizes[0])));
    assert.match(await page.locator('#table-title').textContent(), new RegExp('Matches of .' + query));
    // Matching boxes are painted highlighted, the others dimmed; check the canvas pixels too.
    const drawn = (await boxes(page)).filter((b) => !b.rest && !b.expanded && area(b) > 30);
    const matched = drawn.filter((b) => hit(b.name) || (b.isLeaf && matching.some((l) => l.key === b.name && samePath(l.path, b.path.slice(0, -1)))));
    assert.ok(matched.length, 'some match is drawn');
    for (const b of drawn) assert.equal(b.highlight, matched.includes(b), b.path.join('/'));
    const pixel = await page.evaluate(([x, y]) => {
      const c = document.getElementById('canvas');
      const s = c.width / c.clientWidth;
      return Array.from(c.getContext('2d').getImageData(Math.floor(x * s), Math.floor(y * s), 1, 1).data);
    }, [matched[0].x1 - 3, matched[0].y1 - 3]);
    assert.deepEqual(pixel, [255, 210, 31, 255]);

    await items.first().click();
    const leafHit = matching.find((l) => l.size === sizes[0] && l.key === first);
    const want = leafHit ? leafHit.path : groups.find((g) => g.size === sizes[0]).path;
    await waitForView(page, want);
    await page.fill('#search', '');
    await page.locator('#search-panel').waitFor({ state: 'hidden' });
    await page.close();
  });
});

describe('largest symbols table', () => {
  it('lists the largest symbols of the current group and sorts by name and size', async () => {
    const d = nestedDocument();
    const doc = readDocument(d.file);
    const page = await openPage(browser, { data: d.file });
    const rows = async () => page.$$eval('#table tbody tr', (trs) => trs.map((tr) => [tr.querySelector('.name').textContent, tr.cells[1].textContent]));
    const all = flatLeaves(doc).sort((a, b) => b.size - a.size);
    const human = (n) => page.evaluate((x) => VorlithModel.humanSize(x), n);
    let got = await rows();
    assert.equal(got.length, Math.min(200, all.length));
    for (let i = 0; i < Math.min(20, all.length); i++) {
      assert.equal(got[i][1], await human(all[i].size), `row ${i}`);
    }
    assert.ok(all.slice(0, 5).some((l) => l.key === got[0][0]));

    await page.click('#table th[data-key="name"] button');
    got = await rows();
    const names = got.map((r) => r[0]);
    assert.deepEqual(names, names.slice().sort((a, b) => (a < b ? -1 : a > b ? 1 : 0)));
    assert.equal(await page.getAttribute('#table th[data-key="name"]', 'aria-sort'), 'ascending');
    await page.click('#table th[data-key="name"] button');
    assert.equal(await page.getAttribute('#table th[data-key="name"]', 'aria-sort'), 'descending');
    const desc = (await rows()).map((r) => r[0]);
    assert.deepEqual(desc.slice().sort(), names.slice().sort(), 'the same rows');
    for (let i = 1; i < desc.length; i++) assert.ok(desc[i - 1] >= desc[i], `${desc[i - 1]} before ${desc[i]}`);
    await page.click('#table th[data-key="size"] button');
    await page.click('#table th[data-key="size"] button');
    assert.equal(await page.getAttribute('#table th[data-key="size"]', 'aria-sort'), 'ascending');
    got = await rows();
    assert.equal(got[0][1], await human(all.slice(0, 200).at(-1).size));

    // Zoomed into a group, the table covers that group only; a row click selects the symbol.
    const g = Object.entries(doc.children).sort((a, b) => b[1].total - a[1].total)[0];
    await page.evaluate((h) => { location.hash = h; }, '#/' + encodeURIComponent(g[0]));
    await waitForView(page, [g[0]]);
    await page.click('#table th[data-key="size"] button');
    const inGroup = flatLeaves(g[1], [g[0]]).sort((a, b) => b.size - a.size);
    got = await rows();
    assert.equal(got.length, Math.min(200, inGroup.length));
    assert.equal(got[0][1], await human(inGroup[0].size));
    assert.match(await page.locator('#table-title').textContent(), new RegExp('in ' + g[0].replace(/[.*+?^${}()|[\]\\]/g, '\\$&')));
    await page.locator('#table tbody tr').first().click();
    await waitForView(page, inGroup.find((l) => l.key === got[0][0]).path);
    await page.close();
  });
});

describe('untrusted names', () => {
  it('shows names with markup as text in every place they appear', async () => {
    const doc = readDocument(docs.hostile);
    const hostile = flatLeaves(doc).filter((l) => /[<>"&]/.test(l.key));
    assert.ok(hostile.length >= 2, 'the document holds hostile symbol names');
    const groupPath = [];
    for (let n = doc; Object.keys(n.children).length && !groupPath.some((g) => g.includes('<'));) {
      const name = Object.keys(n.children)[0];
      groupPath.push(name);
      n = n.children[name];
    }
    assert.ok(groupPath.some((g) => g.includes('<')), 'the document holds a hostile group name');

    const page = await openPage(browser, { data: docs.hostile });
    assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'ready');
    const tableNames = await page.$$eval('#table .name', (els) => els.map((e) => e.textContent));
    for (const l of hostile) assert.ok(tableNames.includes(l.key), l.key);
    await page.fill('#search', 'onerror');
    await page.locator('#search-panel').waitFor({ state: 'visible' });
    const results = await page.$$eval('#table .name', (els) => els.map((e) => e.textContent));
    assert.ok(results.includes(HOSTILE_GROUP), results.join());
    assert.ok(results.some((r) => r.startsWith('<img src=x')), results.join());
    for (const b of (await boxes(page)).filter((x) => x.name && /[<>"]/.test(x.name))) {
      const { x, y } = await pointIn(page, b, { header: b.expanded });
      await page.mouse.move(x, y);
      await page.waitForFunction((n) => document.querySelector('#tooltip .title')?.textContent === n, b.name);
    }
    // The group's breadcrumb, after following its search result.
    await page.locator('#table tbody tr').filter({ has: page.locator('.name', { hasText: HOSTILE_GROUP }) }).first().click();
    await waitForView(page, groupPath);
    assert.deepEqual(await page.$$eval('#crumbs > *:not(.sep)', (els) => els.map((e) => e.textContent)), ['All', ...groupPath]);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    assert.equal(await page.locator('img, svg, i, b, script:not([src])').count(), 0);
    await page.close();
  });
});

describe('offline and errors', () => {
  it('made no request but file:// ones and threw no page error in all the tests above', () => {
    const outside = browser.requests.filter((u) => !u.startsWith('file:') && !u.startsWith('data:') && u !== 'about:blank');
    assert.deepEqual(outside, []);
    assert.ok(browser.requests.some((u) => u.endsWith('/vendor/d3-hierarchy.min.js')));
    // The loading tests feed malformed documents on purpose; their syntax errors are expected.
    assert.deepEqual(browser.errors.filter((e) => !e.url.includes('vorlith-bad-')), []);
  });
});

describe('screenshot', () => {
  // The README's picture is the sample map's document as vorlith writes it. It replaces the
  // committed image only when VORLITH_UPDATE_SCREENSHOT=1, so that a test run leaves the work
  // tree clean; otherwise the screenshot goes to a temporary file.
  it('saves viewer/screenshot.png of the sample map', async () => {
    const page = await openPage(browser, { data: docs.sample });
    const ofSample = docs.source === 'vorlith' && path.basename(docs.sample) === 'sample.json';
    const update = ofSample && process.env.VORLITH_UPDATE_SCREENSHOT === '1';
    const shot = update ? path.join(viewerDir, 'screenshot.png') : path.join(tempDir('vorlith-shot-'), 'screenshot.png');
    await page.screenshot({ path: shot });
    const png = fs.readFileSync(shot);
    assert.equal(png.subarray(1, 4).toString(), 'PNG');
    assert.ok(png.length > 20000, 'a drawn page, not a blank one');
    await page.close();
  });
});
