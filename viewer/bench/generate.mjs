// Writes a synthetic vorlith document shaped like a large D program: nested packages, modules,
// aggregates and functions with D-style mangled names, a wide flat "C symbols" group and some
// padding. Deterministic for a given leaf count, so runs can be compared.
import fs from 'node:fs';

function rng(seed) {
  let s = seed >>> 0;
  return () => {
    s = (s + 0x6d2b79f5) >>> 0;
    let t = s;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

const WORDS = ['core', 'std', 'app', 'net', 'io', 'text', 'json', 'math', 'range', 'algo', 'format',
  'buffer', 'stream', 'array', 'hash', 'parse', 'token', 'render', 'layout', 'cache', 'store', 'query',
  'event', 'signal', 'thread', 'sync', 'alloc', 'region', 'vector', 'matrix', 'image', 'codec'];

export function generateDocument(leafCount, seed = 1) {
  const rand = rng(seed);
  const pick = () => WORDS[Math.floor(rand() * WORDS.length)];
  const size = () => 1 + Math.floor(Math.exp(rand() * 2.2 + rand() * 2.2 + rand() * 2.2));
  let address = 0x400000;
  const group = () => ({ total: 0, children: {}, leaves: {} });
  const root = group();
  const addLeaf = (segments, mangled, demangled) => {
    const s = size();
    let node = root;
    node.total += s;
    for (const seg of segments.slice(0, -1)) {
      node = node.children[seg] || (node.children[seg] = group());
      node.total += s;
    }
    const base = segments[segments.length - 1];
    let key = base;
    for (let n = 1; key in node.leaves; n++) key = base + '#' + n;
    node.leaves[key] = { size: s, address, mangledName: mangled, demangledName: demangled };
    address += s;
  };
  const cCount = Math.floor(leafCount * 0.08);
  const padCount = Math.floor(leafCount * 0.02);
  for (let i = 0; i < cCount; i++) {
    const name = pick() + '_' + pick() + '_' + i.toString(36);
    addLeaf(['C symbols', name], name, '');
  }
  for (let i = 0; i < padCount; i++) addLeaf(['Afterpadding', 'obj' + (i % 500) + '.o'], 'obj' + (i % 500) + '.o', '');
  // D part: packages of modules of functions (some inside aggregates), filed the way vorlith files
  // demangled D names: a leaf per function under its module or aggregate, overloads under the
  // keys "name", "name#1", ..., each with its demangled text (missing for some).
  const SIGS = [['FZv', 'void', ''], ['FiZi', 'int', 'int'], ['FAyaZv', 'void', 'immutable(char)[]'], ['FNaNbNiNfZb', 'pure nothrow @nogc @safe bool', '']];
  let made = cCount + padCount;
  for (let p = 0; made < leafCount; p++) {
    const pkg = 'pkg' + p;
    const modules = 1 + Math.floor(rand() * 40);
    for (let m = 0; m < modules && made < leafCount; m++) {
      const mod = pick() + m;
      const functions = 1 + Math.floor(rand() * 80);
      for (let f = 0; f < functions && made < leafCount; f++) {
        const agg = rand() < 0.4 ? 'Agg' + Math.floor(rand() * 8) : null;
        const segs = agg ? [pkg, mod, agg, pick() + f] : [pkg, mod, pick() + f];
        const overloads = 1 + Math.floor(rand() * rand() * 4);
        for (let o = 0; o < overloads && made < leafCount; o++, made++) {
          const [sig, ret, params] = SIGS[o];
          const mangled = '_D' + segs.map((s) => s.length + s).join('') + sig;
          addLeaf(segs, mangled, rand() < 0.9 ? ret + ' ' + segs.join('.') + '(' + params + ')' : '');
        }
      }
    }
  }
  return root;
}

// A later build of the same program: every tenth symbol grows by 3 bytes, every hundredth is
// dropped, and the totals are made to add up again.
export function laterBuild(doc) {
  let i = 0;
  const walk = (node) => {
    let total = 0;
    for (const [key, leaf] of Object.entries(node.leaves)) {
      i++;
      if (i % 100 === 0) delete node.leaves[key];
      else {
        if (i % 10 === 0) leaf.size += 3;
        total += leaf.size;
      }
    }
    for (const child of Object.values(node.children)) total += walk(child);
    node.total = total;
    return total;
  };
  walk(doc);
  return doc;
}

export function writeDocument(file, leafCount, seed, later = false) {
  const doc = generateDocument(leafCount, seed);
  const text = 'var treeData = ' + JSON.stringify(later ? laterBuild(doc) : doc);
  fs.writeFileSync(file, text);
  return text.length;
}

if (import.meta.url === `file://${process.argv[1]}`) {
  const [file, count] = process.argv.slice(2);
  const bytes = writeDocument(file, Number(count || 300000), 1);
  console.log(`${file}: ${bytes} bytes`);
}
