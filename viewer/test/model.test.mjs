// The page's document model, run in node: reading document text, the sorted tree, names that
// JavaScript treats specially, deep documents, URL paths, formatting and the largest-symbols
// merge, each checked against a brute-force computation on real documents.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { viewerDir } from './browser.mjs';
import { flatLeaves, readDocument } from './documents.mjs';

const M = createRequire(import.meta.url)('../model.js');
const fixtures = path.join(viewerDir, 'test', 'fixtures');
const realFixtures = fs.readdirSync(fixtures).filter((f) => f.endsWith('.json') && !f.startsWith('hostile'));
const load = (name) => M.buildModel(M.parseDocumentText(fs.readFileSync(path.join(fixtures, name), 'utf8')));

describe('reading document text', () => {
  it('accepts the script form, bare JSON, a byte order mark and a trailing semicolon', () => {
    const json = '{"total":0,"children":{},"leaves":{}}';
    for (const text of ['var treeData = ' + json, json, '\ufeffvar treeData = ' + json, 'var treeData=' + json + ';\n']) {
      assert.deepEqual(M.parseDocumentText(text), { total: 0, children: {}, leaves: {} }, JSON.stringify(text));
    }
  });

  it('rejects empty and malformed text with a DocumentError naming the problem', () => {
    assert.throws(() => M.parseDocumentText(''), { name: 'Error', message: 'the file is empty' });
    assert.throws(() => M.parseDocumentText('var treeData = '), M.DocumentError);
    assert.throws(() => M.parseDocumentText('var treeData = {"total":1,'), /not valid JSON/);
  });

  it('refuses an object that gives a member twice, as vorlith does, wherever it is', () => {
    const leaf = '{"size":1,"address":2,"mangledName":"f","demangledName":""}';
    const cases = [
      ['{"total":1,"total":2,"children":{},"leaves":{}}', 'total'],
      ['{"total":1,"children":{"a":{"total":0,"children":{},"leaves":{}},"a":{"total":1,"children":{},"leaves":{}}},"leaves":{}}', 'a'],
      ['{"total":1,"children":{},"leaves":{"f":' + leaf + ',"\\u0066":' + leaf + '}}', 'f'],
      ['{"total":1,"children":{},"leaves":{"f":{"size":1,"size":1,"address":2,"mangledName":"f"}}}', 'size'],
      ['{"total":0,"children":{},"leaves":{},"extra":[{"k":1,"x":"},{","k":2}]}', 'k'],
    ];
    for (const [json, name] of cases) {
      assert.throws(() => M.parseDocumentText('var treeData = ' + json), { message: 'the member "' + name + '" is twice in one object' }, json);
    }
    // Names that only look alike, strings that hold braces and quotes, and empty objects are fine.
    const fine = '{"total":2,"children":{"a\\"":{"total":1,"children":{},"leaves":{"{\\\\":' + leaf + '}},' +
      '"a":{"total":1,"children":{},"leaves":{"f":' + leaf + ',"F":' + leaf + '}}},"leaves":{}}';
    assert.equal(M.memberGivenTwice(fine), null);
    assert.equal(M.parseDocumentText(fine).total, 2);
  });

  it('says when a group\'s total disagrees with what it holds, and where first', () => {
    const leaf = (size) => '{"size":' + size + ',"address":2,"mangledName":"f","demangledName":""}';
    const good = M.buildModel(JSON.parse('{"total":3,"children":{"a":{"total":2,"children":{},"leaves":{"f":' + leaf(2) + '}}},"leaves":{"g":' + leaf(1) + '}}'));
    assert.equal(good.totalsProblem, null);
    assert.equal(M.totalsNote(good, 'x'), '');
    const bad = M.buildModel(JSON.parse('{"total":3,"children":{"a":{"total":5,"children":{"b":{"total":9,"children":{},"leaves":{}}},"leaves":{"f":' + leaf(2) + '}}},"leaves":{"g":' + leaf(1) + '}}'));
    assert.deepEqual(bad.totalsProblem, { path: [], total: 3, sum: 6 });
    assert.match(M.totalsNote(bad, '"new.json"'), /^The totals of "new\.json" disagree with its contents: the whole program says 3 bytes, but its groups and symbols add up to 6\./);
    const inner = M.buildModel(JSON.parse('{"total":5,"children":{"a":{"total":5,"children":{"b":{"total":9,"children":{},"leaves":{}}},"leaves":{}}},"leaves":{}}'));
    assert.deepEqual(inner.totalsProblem, { path: ['a'], total: 5, sum: 9 });
    // Past 2^53 bytes a sum rounds: that is no disagreement.
    const huge = M.buildModel({ total: 2 ** 64 - 1, children: {}, leaves: { f: { size: 2 ** 64 - 1, address: 1, mangledName: 'f' } } });
    assert.equal(huge.totalsProblem, null);
  });

  it('rejects documents of the wrong shape and says where', () => {
    const cases = [
      [[], /top level is not an object/],
      [{ total: 'x', children: {}, leaves: {} }, /"total" of group the root/],
      [{ total: 1, children: [], leaves: {} }, /no "children" object/],
      [{ total: 1, children: { a: { total: 1, children: {}, leaves: { f: { size: -1, address: 1, mangledName: 'f' } } } }, leaves: {} },
        /"size" of symbol "a \/ f"/],
      [{ total: 1, children: {}, leaves: { f: { size: 1, address: 1 } } }, /symbol "f" has no "mangledName"/],
    ];
    for (const [doc, re] of cases) assert.throws(() => M.buildModel(doc), re);
  });
});

describe('the tree built from a document', () => {
  for (const name of realFixtures) {
    it(`keeps every leaf and total of ${name}, children sorted largest first`, () => {
      const doc = readDocument(path.join(fixtures, name));
      const root = M.buildModel(doc);
      assert.equal(root.size, doc.total);
      assert.equal(root.leafCount, flatLeaves(doc).length);
      M.forEachNode(root, (n) => {
        if (n.isLeaf) return;
        for (let i = 1; i < n.children.length; i++) assert.ok(n.children[i - 1].size >= n.children[i].size);
        const sum = n.children.reduce((s, c) => s + c.size, 0);
        assert.equal(sum, n.size, 'children add up in ' + M.pathOf(n).join('/'));
        assert.ok(n.id < n.end);
      });
    });
  }

  it('gives top-level groups their kind for colouring', () => {
    const kinds = (name) => Object.fromEntries(load(name).children.filter((c) => !c.isLeaf).map((c) => [c.name, c.kind]));
    assert.deepEqual(kinds('gnu-ld-c-static.json'), { 'C symbols': 'c', '/': 'obj', Afterpadding: 'pad' });
    const d = kinds('lld-link-ldc2-betterc-x64.json');
    assert.equal(d.corpus, 'd');
    assert.equal(d['C++ symbols'], 'cpp');
    assert.equal(kinds('ld64-lld16-ldc2-betterc-x86_64.json')['literal string'], 'other');
    // kind is inherited all the way down
    const root = load('gnu-ld-c-static.json');
    M.forEachNode(root.children.find((c) => c.name === '/'), (n) => assert.equal(n.kind, 'obj'));
  });
});

describe('paths in the URL fragment', () => {
  it('round-trips names holding slashes, percent signs, hashes, spaces, non-ASCII and empty names', () => {
    const paths = [[], ['/'], ['/', 'usr', 'lib'], ['a%2Fb', '#1', 'x y'], ['größe', 'ü/ß'], [''], ['', ''], ['a', '']];
    for (const p of paths) assert.deepEqual(M.hashToPath(M.pathToHash(p)), p, JSON.stringify(p));
    assert.equal(M.pathToHash([]), '');
    assert.deepEqual(M.hashToPath('#'), []);
    assert.deepEqual(M.hashToPath('#/%E0%A4%A'), [], 'broken escapes open the root');
  });

  it('finds groups by path and reports the part that does not exist', () => {
    const root = load('gnu-ld-c-static.json');
    const found = M.findGroup(root, ['/', 'usr', 'lib']);
    assert.deepEqual(M.pathOf(found.node), ['/', 'usr', 'lib']);
    assert.deepEqual(found.missing, []);
    const partial = M.findGroup(root, ['C symbols', 'no such group', 'x']);
    assert.deepEqual(M.pathOf(partial.node), ['C symbols']);
    assert.deepEqual(partial.missing, ['no such group', 'x']);
  });
});

describe('formatting', () => {
  it('writes sizes in binary units', () => {
    const cases = [[0, '0 B'], [1023, '1023 B'], [1024, '1.00 KiB'], [1536, '1.50 KiB'], [10 * 1024 + 512, '10.5 KiB'],
      [200 * 1024, '200 KiB'], [1024 * 1024, '1.00 MiB'], [5368741934, '5.00 GiB']];
    for (const [n, s] of cases) assert.equal(M.humanSize(n), s, String(n));
    assert.equal(M.exactBytes(5368741934), '5,368,741,934 B');
  });

  it('writes addresses in hex, padded to 32 or 64 bits, marking those past 2^53 as inexact', () => {
    assert.equal(M.hexAddress(0x401000), '0x00401000');
    assert.equal(M.hexAddress(0x140003044), '0x0000000140003044');
    assert.equal(M.hexAddress(2 ** 60), '~0x1000000000000000');
  });

  it('writes shares', () => {
    assert.equal(M.percent(1, 4), '25.0%');
    assert.equal(M.percent(1, 3), '33.3%');
    assert.equal(M.percent(1, 300), '0.33%');
    assert.equal(M.percent(1, 1e6), '<0.01%');
    assert.equal(M.percent(5, 5), '100%');
    assert.equal(M.percent(1, 0), '0%');
  });
});

describe('largest symbols', () => {
  const name = 'gnu-ld-c-static.json';
  const doc = readDocument(path.join(fixtures, name));
  const leaves = flatLeaves(doc);

  it('largestLeaves matches a full sort for the root and for groups', () => {
    const root = M.buildModel(doc);
    for (const p of [[], ['C symbols'], ['/', 'usr', 'lib'], ['C symbols', 'IO']]) {
      const got = M.largestLeaves(M.findGroup(root, p).node, 40).map((l) => l.size);
      const want = leaves.filter((l) => p.every((s, i) => l.path[i] === s)).map((l) => l.size).sort((a, b) => b - a).slice(0, 40);
      assert.deepEqual(got, want, p.join('/'));
    }
  });
});

describe('names that JavaScript treats specially', () => {
  const NAMES = ['__proto__', 'constructor', 'toString', 'hasOwnProperty', 'valueOf', '__defineGetter__', 'prototype', 'length'];
  const json = () => {
    const groups = NAMES.map((n, i) => JSON.stringify(n) + ':{"total":' + 16 * (i + 1) + ',"children":{},"leaves":{' +
      JSON.stringify(n) + ':{"size":' + 16 * (i + 1) + ',"address":4096,"mangledName":' + JSON.stringify(n) + ',"demangledName":""}}}');
    const total = NAMES.reduce((s, _, i) => s + 16 * (i + 1), 0);
    return '{"total":' + total + ',"children":{' + groups.join(',') + '},"leaves":{}}';
  };

  it('keeps every such group and symbol, whether the text is parsed as JSON or run as a script', () => {
    const text = json();
    // As the file picker reads it, and as a script element evaluates it (an object literal turns
    // "__proto__" into the prototype).
    const parsed = M.parseDocumentText('var treeData = ' + text);
    const evaluated = new Function('return ' + text)();
    assert.notEqual(Object.getPrototypeOf(evaluated.children), Object.prototype, 'the literal really set a prototype');
    for (const [how, doc] of [['parsed', parsed], ['evaluated', evaluated]]) {
      const root = M.buildModel(doc);
      assert.equal(root.size, NAMES.reduce((s, _, i) => s + 16 * (i + 1), 0), how);
      assert.deepEqual(root.children.map((c) => c.name).sort(), NAMES.slice().sort(), how);
      for (const g of root.children) {
        assert.equal(g.children.length, 1, how + ' ' + g.name);
        assert.equal(g.children[0].name, g.name, how);
        assert.equal(g.kind, 'other', how + ': ' + g.name + ' has a kind of its own');
      }
    }
  });
});

describe('deep documents', () => {
  const deepText = (depth) => {
    let s = '';
    for (let i = 0; i < depth; i++) s += '{"total":8,"children":{"g' + i + '":';
    s += '{"total":8,"children":{},"leaves":{"x":{"size":8,"address":0,"mangledName":"x","demangledName":""}}}';
    for (let i = 0; i < depth; i++) s += '},"leaves":{}}';
    return 'var treeData = ' + s;
  };

  it('builds documents far deeper than the call stack allows recursion', () => {
    for (const depth of [1000, 4000, 100000]) {
      const root = M.buildModel(M.parseDocumentText(deepText(depth)));
      let n = root;
      let levels = 0;
      while (!n.isLeaf) {
        n = n.children[0];
        levels++;
      }
      assert.equal(levels, depth + 1, String(depth));
      assert.equal(n.depth, depth + 1);
      assert.equal(root.leafCount, 1);
      assert.equal(root.end, root.all.length);
      assert.equal(root.all.length, depth + 2);
      assert.equal(M.largestLeaves(root, 5)[0], n);
    }
  });
});
