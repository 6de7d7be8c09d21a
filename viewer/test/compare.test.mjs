// Matching two builds in node: identity, the real before/after builds of test/builds (a function
// added and one removed, an array and functions grown, a template instance added), duplicate
// names, and the totals that must add up.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { viewerDir } from './browser.mjs';
import { documents } from './documents.mjs';

const require = createRequire(import.meta.url);
const M = require('../model.js');
const C = require('../compare.js');
const fixtures = path.join(viewerDir, 'test', 'fixtures');
const load = (file) => M.buildModel(M.parseDocumentText(fs.readFileSync(file, 'utf8')));
const docs = documents();

function leafAt(root, segments) {
  const g = M.findGroup(root, segments.slice(0, -1));
  assert.deepEqual(g.missing, [], 'group of ' + segments.join('/'));
  const leaf = g.node.children.find((c) => c.isLeaf && c.name === segments[segments.length - 1]);
  assert.ok(leaf, segments.join('/'));
  return leaf;
}

function leaves(root, pred) {
  return root.all.filter((n) => n.isLeaf && pred(n));
}

// Every matched group's change is the sum of the changes of the leaves below it, removed ones
// counted negative: the comparison's totals add up at every level.
function expectTotalsAddUp(newRoot) {
  const below = (n, out) => {
    for (let i = n.id; i < n.end; i++) out.push(M.rootOf(n).all[i]);
    return out;
  };
  for (const g of newRoot.all) {
    if (g.isLeaf || !g.other) continue;
    const newLeaves = below(g, []).filter((n) => n.isLeaf);
    const removed = below(g.other, []).filter((n) => n.isLeaf && !n.other);
    const sum = newLeaves.reduce((s, n) => s + C.deltaOf(n), 0) - removed.reduce((s, n) => s + n.size, 0);
    assert.equal(sum, g.size - g.other.size, 'in ' + (M.pathOf(g).join('/') || 'the root'));
  }
}

describe('comparing a build with itself', () => {
  for (const f of fs.readdirSync(fixtures).filter((x) => x.endsWith('.json'))) {
    it(`finds every symbol of ${f} unchanged`, () => {
      const a = load(path.join(fixtures, f));
      const b = load(path.join(fixtures, f));
      const r = C.compare(a, b);
      // Padding and fill are counted apart: as places that changed, of which there are none.
      const padding = a.all.filter((n) => n.isLeaf && C.isPadding(n)).length;
      assert.equal(r.leaves.counts[C.SAME] + padding, a.leafCount);
      assert.deepEqual(r.padding, { count: 0, bytes: 0 });
      assert.equal(r.leaves.removedCount, 0);
      assert.equal(r.leafDeltaSum, 0);
      for (const n of a.all) assert.equal(M.pathOf(n.other).join('\0'), M.pathOf(n).join('\0'));
    });
  }
});

describe('comparing the real before and after builds', () => {
  const after = load(docs.after);
  const before = load(docs.before);
  const result = C.compare(after, before);
  const find = (root, re) => leaves(root, (n) => re.test(M.pathOf(n).join('/')));

  it('sums of leaf changes equal the difference of the totals, at the root and in every group', () => {
    assert.equal(result.leafDeltaSum, after.size - before.size);
    assert.notEqual(after.size, before.size);
    expectTotalsAddUp(after);
  });

  it('marks the added function and template instance new, the removed function removed', () => {
    // D functions are filed by their demangled names, as leaves of their module's group.
    const discount = find(after, /^shop\/prices\/discount$/);
    assert.equal(discount.length, 1);
    assert.equal(discount[0].status, C.NEW);
    assert.equal(discount[0].demangledName, 'int shop.prices.discount(int, int)');
    // Template members with back references ("Q...") keep their mangled keys.
    const cartDouble = find(after, /^shop\/cart\/__T4CartTdZ/);
    assert.ok(cartDouble.length >= 3, 'Cart!double members');
    for (const n of cartDouble) assert.equal(n.status, C.NEW, M.pathOf(n).join('/'));
    const legacy = find(before, /^shop\/prices\/legacyReport$/);
    assert.equal(legacy.length, 1);
    assert.equal(legacy[0].other, null);
    assert.equal(legacy[0].demangledName, 'void shop.prices.legacyReport(int)');
    const removed = C.removedUnder(M.findGroup(after, ['shop', 'prices']).node).map((n) => n.name);
    assert.deepEqual(removed, ['legacyReport']);
    assert.ok(find(after, /legacyReport/).length === 0, 'nothing of legacyReport in the new build');
  });

  it('matches grown symbols that moved, and keeps Cart!int matched', () => {
    const table = find(after, /(^|\/)lookup_table$/)[0];
    assert.ok(table, 'lookup_table is filed somewhere');
    assert.equal(table.status, C.GROWN);
    assert.equal(C.deltaOf(table), (1024 - 64) * 4);
    assert.notEqual(table.address, table.other.address, 'it moved and still matched');
    const checksum = find(after, /^shop\/prices\/checksum$/);
    assert.equal(checksum.length, 1);
    assert.equal(checksum[0].status, C.GROWN);
    assert.equal(C.deltaOf(checksum[0]), checksum[0].size - find(before, /^shop\/prices\/checksum$/)[0].size);
    assert.ok(C.deltaOf(checksum[0]) > 0);
    assert.notEqual(checksum[0].address, checksum[0].other.address, 'checksum moved and still matched');
    // The D array's key no longer carries its type (G64i, G1024i), so it matches across the change.
    const prices = find(after, /^shop\/prices\/priceTable$/);
    assert.equal(prices.length, 1);
    assert.equal(prices[0].status, C.GROWN);
    assert.equal(C.deltaOf(prices[0]), (1024 - 64) * 4);
    assert.equal(prices[0].other.mangledName, '_D4shop6prices10priceTableG64i');
    const cartInt = find(after, /^shop\/cart\/__T4CartTiZ/);
    assert.ok(cartInt.length >= 3);
    for (const n of cartInt.filter((x) => !/\/Z\.\d+$/.test(M.pathOf(x).join('/')))) assert.ok(n.other, M.pathOf(n).join('/'));
  });

  it('lists the largest changes by absolute delta, removed symbols included', () => {
    const rows = C.largestChanges(after, 25);
    assert.equal(rows.length, 25);
    for (let i = 1; i < rows.length; i++) assert.ok(Math.abs(rows[i - 1].delta) >= Math.abs(rows[i].delta));
    // Padding and fill are summed apart, not listed.
    const symbol = (n) => !C.isPadding(n) && !(n.other && C.isPadding(n.other));
    const all = leaves(after, (n) => C.deltaOf(n) !== 0 && symbol(n)).map((n) => Math.abs(C.deltaOf(n)))
      .concat(leaves(before, (n) => !n.other && symbol(n)).map((n) => n.size)).sort((a, b) => b - a);
    assert.ok(rows.every((r) => symbol(r.leaf || r.old)), 'no padding among them');
    assert.deepEqual(rows.map((r) => Math.abs(r.delta)), all.slice(0, 25));
    assert.ok(rows.some((r) => !r.leaf && r.old), 'a removed symbol is among them');
  });
});

describe('matching repeated names', () => {
  const leaf = (size, mangledName) => ({ size, address: 1000 + size, mangledName, demangledName: '' });
  const doc = (leaves) => ({ total: Object.values(leaves).reduce((s, l) => s + l.size, 0), children: {}, leaves });
  const statuses = (root) => Object.fromEntries(root.children.map((c) => [c.name, [C.STATUS_NAMES[c.status], c.other && c.other.name]]));

  it('a duplicate added in the middle shifts no other match', () => {
    const old = M.buildModel(doc({ f: leaf(10, 'f'), 'f#1': leaf(20, 'f'), 'f#2': leaf(30, 'f') }));
    const now = M.buildModel(doc({ f: leaf(10, 'f'), 'f#1': leaf(15, 'f'), 'f#2': leaf(20, 'f'), 'f#3': leaf(30, 'f') }));
    C.compare(now, old);
    assert.deepEqual(statuses(now), {
      f: ['unchanged', 'f'], 'f#1': ['new', null], 'f#2': ['unchanged', 'f#1'], 'f#3': ['unchanged', 'f#2'],
    });
  });

  it('a duplicate that grew stays paired between unchanged neighbours', () => {
    const old = M.buildModel(doc({ f: leaf(10, 'f'), 'f#1': leaf(20, 'f'), 'f#2': leaf(30, 'f') }));
    const now = M.buildModel(doc({ f: leaf(10, 'f'), 'f#1': leaf(25, 'f'), 'f#2': leaf(30, 'f') }));
    C.compare(now, old);
    assert.deepEqual(statuses(now), { f: ['unchanged', 'f'], 'f#1': ['grown', 'f#1'], 'f#2': ['unchanged', 'f#2'] });
  });

  it('overloads under one key pair by mangled name first, then what is left in order', () => {
    const old = M.buildModel(doc({ foo: leaf(8, '_Z3fooi'), 'foo#1': leaf(9, '_Z3food'), 'foo#2': leaf(7, '_Z3fooc') }));
    const now = M.buildModel(doc({ foo: leaf(12, '_Z3food'), 'foo#1': leaf(5, '_Z3foof') }));
    const r = C.compare(now, old);
    assert.deepEqual(statuses(now), { foo: ['grown', 'foo#1'], 'foo#1': ['shrunk', 'foo'] });
    assert.equal(r.leaves.removedCount, 1);
    assert.equal(r.leafDeltaSum, now.size - old.size);
  });

  it('reads keys as base name and order', () => {
    assert.deepEqual(C.splitKey('f'), { base: 'f', order: 0 });
    assert.deepEqual(C.splitKey('f#12'), { base: 'f', order: 12 });
    assert.deepEqual(C.splitKey('f#1#1'), { base: 'f#1', order: 1 });
    assert.deepEqual(C.splitKey('#'), { base: '#', order: 0 });
  });
});

describe('deep documents', () => {
  it('compares two builds thousands of groups deep', () => {
    const deep = (depth, size) => {
      let s = '{"total":' + size + ',"children":{},"leaves":{"x":{"size":' + size + ',"address":0,"mangledName":"x"}}}';
      for (let i = depth - 1; i >= 0; i--) s = '{"total":' + size + ',"children":{"g' + i + '":' + s + '},"leaves":{}}';
      return M.buildModel(JSON.parse(s));
    };
    const newRoot = deep(20000, 24);
    const oldRoot = deep(20000, 16);
    const result = C.compare(newRoot, oldRoot);
    assert.equal(result.leafDeltaSum, 8);
    const leaf = newRoot.all[newRoot.all.length - 1];
    assert.ok(leaf.isLeaf);
    assert.equal(leaf.status, C.GROWN);
    assert.equal(leaf.other, oldRoot.all[oldRoot.all.length - 1]);
  });
});
