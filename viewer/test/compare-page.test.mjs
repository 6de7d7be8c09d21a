// The comparison view in headless chromium, on vorlith's documents of the real before and after
// builds (test/builds): totals that add up per group, change colours on the canvas, tooltips,
// the list of what only the old build has, the change table, and opening two files.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { launch, openPage, tempDir } from './browser.mjs';
import { documents, groupAt, readDocument } from './documents.mjs';

const docs = documents();
const newDoc = readDocument(docs.after);
const oldDoc = readDocument(docs.before);
let browser;

before(async () => {
  browser = await launch();
});
after(async () => {
  await browser.close();
});

const open = (hash) => openPage(browser, { data: docs.after, base: docs.before, hash });
const boxes = (page) => page.evaluate(() => window.vorlithViewer.boxes());
const STATUS = { unchanged: 0, grown: 1, shrunk: 2, new: 3 };
const LEAF_COLOURS = { 0: [0xd5, 0xd8, 0xdc], 1: [0xf2, 0x8b, 0x82], 2: [0x81, 0xc9, 0x95], 3: [0xc5, 0x8a, 0xf9] };

async function pixel(page, x, y) {
  return page.evaluate(([px, py]) => {
    const c = document.getElementById('canvas');
    const s = c.width / c.clientWidth;
    return Array.from(c.getContext('2d').getImageData(Math.floor(px * s), Math.floor(py * s), 1, 1).data).slice(0, 3);
  }, [x, y]);
}

async function hover(page, box) {
  const r = await page.locator('#canvas').boundingBox();
  await page.mouse.move(r.x + (box.x0 + box.x1) / 2, r.y + (box.y0 + box.y1) / 2);
  await page.waitForFunction((n) => document.querySelector('#tooltip .title')?.textContent === n, box.name);
  return page.locator('#tooltip').innerText();
}

// The byte count of a change cell such as "+3,840 B (+1500%)".
const magnitude = (text) => Number(text.replace(/ \(.*$/, '').replace(/[^\d]/g, ''));

function hashOf(segments) {
  return '#/' + segments.map(encodeURIComponent).join('/');
}

describe('comparison totals', () => {
  it('shows both totals and their difference, equal to the sum of all symbol changes', async () => {
    const page = await open();
    assert.equal(await page.evaluate(() => window.vorlithViewer.state), 'ready');
    const diff = newDoc.total - oldDoc.total;
    assert.notEqual(diff, 0);
    assert.equal(Number(await page.getAttribute('#compare-totals [data-key="difference"]', 'data-value')), diff);
    assert.equal(Number(await page.getAttribute('#compare-totals [data-key="sum"]', 'data-value')), diff);
    assert.match(await page.locator('#compare-totals [data-key="old"]').textContent(), new RegExp(oldDoc.total.toLocaleString('en-US') + ' B'));
    assert.match(await page.locator('#compare-totals [data-key="new"]').textContent(), new RegExp(newDoc.total.toLocaleString('en-US') + ' B'));
    // The legend's per-status byte sums add up to the same difference.
    const legend = await page.$$eval('#legend li', (lis) => lis.map((li) => [li.dataset.kind, Number(li.dataset.count), Number(li.dataset.bytes)]));
    assert.equal(legend.reduce((s, [, , b]) => s + b, 0), diff);
    const byKind = Object.fromEntries(legend.map(([k, c]) => [k, c]));
    assert.ok(byKind.new > 0 && byKind.grown > 0 && byKind.removed > 0 && byKind.unchanged > 0, JSON.stringify(byKind));
    await page.close();
  });

  it('gives each group its own old and new totals and change as the user zooms', async () => {
    const page = await open();
    for (const segments of [['shop'], ['shop', 'prices'], ['shop', 'cart']]) {
      await page.evaluate((h) => { location.hash = h; }, hashOf(segments));
      await page.waitForFunction((want) => JSON.stringify(window.vorlithViewer.viewPath()) === want, JSON.stringify(segments));
      const n = groupAt(newDoc, segments).total;
      const o = groupAt(oldDoc, segments).total;
      assert.equal(Number(await page.getAttribute('#summary .delta', 'data-delta')), n - o, segments.join('/'));
      assert.match(await page.locator('#summary [data-total="new"]').textContent(), new RegExp(n.toLocaleString('en-US') + ' B'));
      assert.match(await page.locator('#summary [data-total="old"]').textContent(), new RegExp(o.toLocaleString('en-US') + ' B'));
    }
    await page.close();
  });
});

describe('comparison treemap', () => {
  it('colours symbols by change and explains the change in the tooltip', async () => {
    const page = await open(hashOf(['shop', 'prices']));
    const all = await boxes(page);
    // D functions and variables are filed by their demangled names: a leaf per symbol in its module.
    const leafBox = (name) => all.find((b) => b.isLeaf && b.name === name && b.path.join('/') === 'shop/prices/' + name);
    const discount = leafBox('discount');
    const checksum = leafBox('checksum');
    const priceTable = leafBox('priceTable');
    assert.ok(discount && checksum && priceTable, 'the functions and the array are drawn');
    assert.equal(discount.status, STATUS.new);
    assert.equal(checksum.status, STATUS.grown);
    assert.equal(priceTable.status, STATUS.grown);
    for (const b of [discount, checksum, priceTable]) {
      assert.deepEqual(await pixel(page, b.x1 - 3, b.y1 - 3), LEAF_COLOURS[b.status], b.path.join('/'));
    }
    // No box for what only the old build has.
    assert.ok(!all.some((b) => b.path.includes('legacyReport')));

    const leafOf = (doc, b) => groupAt(doc, b.path.slice(0, -1)).leaves[b.name];
    let text = await hover(page, discount);
    const newDiscount = leafOf(newDoc, discount);
    assert.match(text, /not in the old build/);
    assert.ok(text.includes('new in this build, +' + newDiscount.size.toLocaleString('en-US') + ' B'), text);
    assert.ok(newDiscount.demangledName, 'discount has a demangled name');
    assert.ok(text.includes(newDiscount.demangledName), text);

    // A grown symbol: its change in bytes and percent of the old size.
    const grownText = (b) => {
      const o = leafOf(oldDoc, b).size;
      const n = leafOf(newDoc, b).size;
      const pct = (100 * (n - o)) / o;
      return '+' + (n - o).toLocaleString('en-US') + ' B (+' + (pct >= 10 ? pct.toFixed(1) : pct.toFixed(2)) + '%)';
    };
    text = await hover(page, checksum);
    assert.ok(text.includes(grownText(checksum)), text);
    text = await hover(page, priceTable);
    assert.equal(leafOf(newDoc, priceTable).size - leafOf(oldDoc, priceTable).size, (1024 - 64) * 4);
    assert.ok(text.includes(grownText(priceTable)), text);
    await page.close();
  });

  it('leaves unchanged symbols grey', async () => {
    const page = await open();
    const same = (await boxes(page)).filter((b) => b.isLeaf && b.status === STATUS.unchanged && (b.x1 - b.x0) > 8 && (b.y1 - b.y0) > 8);
    assert.ok(same.length, 'an unchanged symbol is drawn');
    const b = same[0];
    const leafOld = groupAt(oldDoc, b.path.slice(0, -1)).leaves[b.name];
    const leafNew = groupAt(newDoc, b.path.slice(0, -1)).leaves[b.name];
    assert.equal(leafOld.size, leafNew.size);
    assert.deepEqual(await pixel(page, b.x1 - 3, b.y1 - 3), LEAF_COLOURS[0]);
    await page.close();
  });

  it('lists what only the old build has in the current group, and the largest changes', async () => {
    const page = await open(hashOf(['shop', 'prices']));
    const removed = await page.$$eval('#removed li .name', (els) => els.map((e) => e.textContent));
    // Only the removed function: the array and the grown function are filed under the same names
    // in both builds and matched.
    assert.deepEqual(removed, ['legacyReport']);
    const rows = await page.$$eval('#table tbody tr', (trs) => trs.map((tr) => ({
      name: tr.querySelector('.name').textContent, sub: tr.querySelector('.sub').textContent,
      status: tr.dataset.status, change: tr.cells[3].textContent,
    })));
    const statuses = new Set(rows.map((r) => r.status));
    for (const s of ['new', 'grown', 'removed']) assert.ok(statuses.has(s), s + ' in ' + JSON.stringify(rows));
    const oldLegacy = groupAt(oldDoc, ['shop', 'prices']).leaves.legacyReport;
    const legacyRows = rows.filter((r) => r.name === 'legacyReport');
    assert.equal(legacyRows.length, 1, JSON.stringify(rows));
    assert.equal(legacyRows[0].status, 'removed');
    assert.ok(oldLegacy.demangledName && legacyRows[0].sub.includes(oldLegacy.demangledName), legacyRows[0].sub);
    assert.equal(legacyRows[0].change, '\u2212' + oldLegacy.size.toLocaleString('en-US') + ' B');
    const tableRow = rows.find((r) => r.name === 'priceTable');
    assert.ok(tableRow, 'priceTable listed');
    assert.equal(tableRow.status, 'grown');
    assert.match(tableRow.change, /^\+3,840 B \(\+1500(\.0)?%\)$/);
    // Default order: largest absolute change first.
    const abs = rows.map((r) => magnitude(r.change));
    for (let i = 1; i < abs.length; i++) assert.ok(abs[i - 1] >= abs[i], rows.map((r) => r.change).join(' | '));
    await page.close();
  });

  it('sorts the change table by change, name, old and new size', async () => {
    const page = await open();
    const deltas = async () => page.$$eval('#table tbody tr', (trs) => trs.map((tr) => tr.cells[3].textContent));
    let d = (await deltas()).map(magnitude);
    assert.ok(d.length > 10);
    for (let i = 1; i < d.length; i++) assert.ok(d[i - 1] >= d[i]);
    assert.equal(await page.getAttribute('#table th[data-key="delta"]', 'aria-sort'), 'descending');
    await page.click('#table th[data-key="delta"] button');
    d = (await deltas()).map(magnitude);
    for (let i = 1; i < d.length; i++) assert.ok(d[i - 1] <= d[i]);
    await page.click('#table th[data-key="name"] button');
    const names = await page.$$eval('#table tbody .name', (els) => els.map((e) => e.textContent));
    for (let i = 1; i < names.length; i++) assert.ok(names[i - 1] <= names[i]);
    await page.click('#table th[data-key="new"] button');
    const news = await page.$$eval('#table tbody tr', (trs) => trs.map((tr) => tr.cells[2].title));
    const bytes = news.map((t) => (/^[\d,]+ B$/.test(t) ? Number(t.replace(/[^\d]/g, '')) : 0));
    for (let i = 1; i < bytes.length; i++) assert.ok(bytes[i - 1] >= bytes[i], news.join('|'));
    await page.close();
  });
});

describe('opening two files', () => {
  it('compares two chosen files, the older one as the base', async () => {
    const dir = tempDir('vorlith-pair-');
    const oldCopy = path.join(dir, 'old.json');
    const newCopy = path.join(dir, 'new.json');
    fs.copyFileSync(docs.before, oldCopy);
    fs.copyFileSync(docs.after, newCopy);
    fs.utimesSync(oldCopy, new Date('2026-01-01T00:00:00Z'), new Date('2026-01-01T00:00:00Z'));
    fs.utimesSync(newCopy, new Date('2026-02-01T00:00:00Z'), new Date('2026-02-01T00:00:00Z'));
    const page = await openPage(browser, {});
    await page.setInputFiles('#file', [newCopy, oldCopy]);
    await page.waitForFunction(() => window.vorlithViewer.state === 'ready');
    await page.locator('#compare-panel').waitFor({ state: 'visible' });
    assert.equal(Number(await page.getAttribute('#compare-totals [data-key="difference"]', 'data-value')), newDoc.total - oldDoc.total);
    assert.match(await page.locator('#compare-totals [data-key="old"]').textContent(), /old\.json/);
    await page.close();
  });

  it('compares the document on screen with an older file chosen afterwards', async () => {
    const page = await openPage(browser, { data: docs.after });
    assert.ok(await page.locator('#compare-panel').isHidden());
    await page.setInputFiles('#base-file', docs.before);
    await page.locator('#compare-panel').waitFor({ state: 'visible' });
    assert.equal(Number(await page.getAttribute('#compare-totals [data-key="sum"]', 'data-value')), newDoc.total - oldDoc.total);
    await page.close();
  });

  it('compares two dropped files, the older one as the base', async () => {
    const page = await openPage(browser, {});
    await page.evaluate(([newText, oldText]) => {
      const dt = new DataTransfer();
      dt.items.add(new File([oldText], 'before.json', { lastModified: Date.UTC(2026, 0, 1) }));
      dt.items.add(new File([newText], 'after.json', { lastModified: Date.UTC(2026, 1, 1) }));
      window.dispatchEvent(new DragEvent('drop', { dataTransfer: dt, bubbles: true, cancelable: true }));
    }, [fs.readFileSync(docs.after, 'utf8'), fs.readFileSync(docs.before, 'utf8')]);
    await page.waitForFunction(() => window.vorlithViewer.state === 'ready');
    assert.equal(Number(await page.getAttribute('#compare-totals [data-key="difference"]', 'data-value')), newDoc.total - oldDoc.total);
    assert.match(await page.locator('#compare-totals [data-key="new"]').textContent(), /after\.json/);
    await page.close();
  });
});
