// Search in node on real documents: plain text (with regular-expression metacharacters), whole
// paths written with each scope separator, regular expressions, bad expressions, and the count
// and total of the matches, each against sets computed here from the document's own nodes.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { viewerDir } from './browser.mjs';

const require = createRequire(import.meta.url);
const M = require('../model.js');
const S = require('../search.js');
const fixtures = path.join(viewerDir, 'test', 'fixtures');
const load = (name) => M.buildModel(M.parseDocumentText(fs.readFileSync(path.join(fixtures, name), 'utf8')));

const lower = (s) => s.toLowerCase();
const plainHit = (n, q) => [n.name, n.isLeaf ? n.mangledName : '', n.isLeaf ? n.demangledName : ''].some((t) => lower(t).includes(lower(q)));
const samePath = (n, p) => JSON.stringify(M.pathOf(n)) === JSON.stringify(p);

function matched(root, r) {
  return root.all.filter((n) => n.parent && n.match === r.generation);
}

// The bytes under the outermost matches, found apart from the search's own bookkeeping.
function coveredBytes(nodes) {
  const set = new Set(nodes);
  return nodes.filter((n) => {
    for (let p = n.parent; p; p = p.parent) if (set.has(p)) return false;
    return true;
  }).reduce((s, n) => s + n.size, 0);
}

function check(root, query, want, label) {
  const r = S.search(root, query, 50);
  const got = matched(root, r);
  assert.equal(r.error, null, label);
  assert.deepEqual(got.map((n) => M.pathOf(n).join('/')).sort(), want.map((n) => M.pathOf(n).join('/')).sort(), label + ': ' + query);
  assert.equal(r.count, want.length, label);
  assert.equal(r.bytes, coveredBytes(want), label + ': bytes');
  for (let i = 1; i < r.top.length; i++) assert.ok(r.top[i - 1].size >= r.top[i].size);
  for (const n of got) for (let p = n.parent; p; p = p.parent) assert.equal(p.holdsMatch, r.generation);
  return r;
}

describe('plain text', () => {
  it('is a substring of a name, mangled or demangled name, ignoring case, metacharacters included', () => {
    const root = load('gnu-ld-c-static.json');
    for (const q of ['printf', 'PRINTF', 'fill*', '(', ')', '[', '*', '+', '?', '$', '^', '|', '\\', '{', 'x+', 'no-such-name-at-all', '_nl_']) {
      check(root, q, root.all.filter((n) => n.parent && plainHit(n, q)), 'plain');
    }
    assert.equal(S.search(root, '   ', 10).count, 0);
    assert.equal(S.search(root, '   ', 10).generation, 0);
  });
});

describe('whole paths', () => {
  // Each separator the page accepts, on a document whose names use it or not.
  it('finds a group by its path written with dots, "::", "/" and " › ", plus the plain hits', () => {
    const cases = [
      ['sample.json', ['std', 'format', 'internal', 'write']],
      ['lld-link-ldc2-betterc-x64.json', ['C++ symbols', 'corpus', 'cxx', 'Dog']],
      ['gnu-ld-c-static.json', ['C symbols', 'nl']],
    ];
    for (const [file, p] of cases) {
      const root = load(file);
      const target = M.findGroup(root, p);
      assert.deepEqual(target.missing, [], file);
      for (const sep of ['.', '::', '/', ' \u203a ']) {
        // Leave out the first element, which may hold a separator or a space of its own.
        const q = p.slice(1).join(sep);
        const r = S.search(root, q, 50);
        assert.ok(target.node.match === r.generation, `${file}: ${q} finds ${p.join('/')}`);
        for (const n of matched(root, r)) {
          const inPath = M.pathOf(n).slice(-p.length + 1).join('\u0001').toLowerCase().startsWith(p.slice(1).join('\u0001').toLowerCase());
          assert.ok(plainHit(n, q) || inPath || lower(n.demangledName.replace(/::|\./g, '\u0001')).includes(p.slice(1).join('\u0001').toLowerCase()),
            `${file}: ${q} matched ${M.pathOf(n).join('/')}`);
        }
      }
    }
  });

  it('matches exactly the named group and the plain hits for a D path and a C++ scope', () => {
    const sample = load('sample.json');
    const write = M.findGroup(sample, ['std', 'format', 'internal', 'write']).node;
    check(sample, 'std.format.internal.write', sample.all.filter((n) => n.parent && (n === write || plainHit(n, 'std.format.internal.write'))), 'D path');
    const cxx = load('lld-link-ldc2-betterc-x64.json');
    const dog = M.findGroup(cxx, ['C++ symbols', 'corpus', 'cxx', 'Dog']).node;
    const want = cxx.all.filter((n) => n.parent && (n === dog || plainHit(n, 'corpus::cxx::Dog')));
    assert.ok(want.length > 1, 'the demangled names of Dog\'s members hold the scope');
    check(cxx, 'corpus::cxx::Dog', want, 'C++ scope');
  });

  it('matches names that hold separators themselves, and object paths under "/"', () => {
    const root = load('build-after.json');
    const obj = root.all.find((n) => !n.isLeaf && /\.o$/.test(n.name) && n.children.some((c) => c.name.startsWith('.')));
    assert.ok(obj, 'an object file group with section leaves');
    const section = obj.children.find((c) => c.name.startsWith('.'));
    const r = S.search(root, obj.name + '/' + section.name, 50);
    assert.equal(section.match, r.generation, obj.name + '/' + section.name);
    const usr = M.pathOf(obj).slice(0, 3);
    assert.deepEqual(usr, ['/', 'usr', 'lib']);
    const lib = M.findGroup(root, usr).node;
    const r2 = S.search(root, '/usr/lib', 50);
    assert.equal(r2.error, null);
    assert.ok(r2.generation > 0 && lib.match === r2.generation);
    // Not everything below it: the path must run into a node's own name.
    assert.notEqual(obj.match, r2.generation);
  });
});

describe('regular expressions', () => {
  it('are tried on names and on the dotted group path', () => {
    const root = load('sample.json');
    const dotted = (n) => M.pathOf(n).join('.');
    const re = /^std\./i;
    const want = root.all.filter((n) => n.parent && (re.test(n.name) || (n.isLeaf && (re.test(n.mangledName) || re.test(n.demangledName))) || re.test(dotted(n))));
    assert.ok(want.length > 10);
    const r = check(root, '/^std\\./', want, 'regex');
    // Everything under std is covered once, not once per level.
    assert.ok(r.bytes >= M.findGroup(root, ['std']).node.size && r.bytes <= root.size);
    const upper = S.search(root, '/WRITE$/', 50);
    assert.equal(upper.count, root.all.filter((n) => n.parent && [n.name, n.mangledName, n.demangledName, dotted(n)].some((t) => /write$/i.test(t))).length);
    assert.ok(upper.count > 0);
  });

  it('reports a bad expression instead of throwing, and matches nothing', () => {
    const root = load('sample.json');
    for (const q of ['/(/', '/[a-/', '/a{2,1}/']) {
      const r = S.search(root, q, 10);
      assert.ok(r.error, q);
      assert.equal(r.count, 0);
    }
  });
});
