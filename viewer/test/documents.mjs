// Documents the browser tests open. With VORLITH_BIN set, they are made by running that vorlith
// executable on the repository's real maps (tests/data/*.map, examples/sample.map) and on a small
// map with hostile names written here; without it, the committed copies in test/fixtures/ are used.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { repoDir, viewerDir } from './browser.mjs';

const fixtures = path.join(viewerDir, 'test', 'fixtures');
const PREFIX = 'var treeData = ';

export const HOSTILE_NAMES = [
  '<script>window.__pwned=1</script>',
  '<img src=x onerror="window.__pwned=2">',
  '"quoted" & \'apostrophe\' </b>',
  '<svg onload=window.__pwned=3>',
];

// GNU ld symbol lines: 16 spaces, 0x and 16 hex digits, 16 spaces, the name. The last symbol
// only ends the one before it (a symbol's size is the distance to the next).
export function hostileMapText() {
  const line = (addr, name) => ' '.repeat(16) + '0x' + addr.toString(16).padStart(16, '0') + ' '.repeat(16) + name;
  const names = HOSTILE_NAMES.concat(['zz_end_of_text']);
  return ['.text           0x0000000000401000     0x1000 hostile.o']
    .concat(names.map((n, i) => line(0x401000 + i * 0x40, n)), ['']).join('\n');
}

function runVorlith(bin, map, out) {
  execFileSync(bin, [map, out], { stdio: ['ignore', 'ignore', 'inherit'] });
  return out;
}

function realMaps() {
  const dir = path.join(repoDir, 'tests', 'data');
  const maps = fs.existsSync(dir)
    ? fs.readdirSync(dir).filter((f) => f.endsWith('.map')).sort().map((f) => path.join(dir, f))
    : [];
  const sample = path.join(repoDir, 'examples', 'sample.map');
  if (fs.existsSync(sample)) maps.push(sample);
  return maps;
}

let cached = null;

// { all: [{ name, file }], sample: file, hostile: file, source: 'vorlith' | 'fixtures' }
export function documents() {
  if (cached) return cached;
  const bin = process.env.VORLITH_BIN;
  const maps = bin ? realMaps() : [];
  if (bin && maps.length) {
    const out = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlith-docs-'));
    const all = maps.map((m) => ({
      name: path.basename(m, '.map'),
      file: runVorlith(bin, m, path.join(out, path.basename(m, '.map') + '.json')),
    }));
    const hostileMap = path.join(out, 'hostile.map');
    fs.writeFileSync(hostileMap, hostileMapText());
    const hostile = runVorlith(bin, hostileMap, path.join(out, 'hostile.json'));
    const sample = all.find((d) => d.name === 'sample') || largest(all);
    cached = { all, sample: sample.file, hostile, source: 'vorlith' };
  } else {
    if (bin) console.error('VORLITH_BIN is set but no maps were found; using test/fixtures');
    const all = fs.readdirSync(fixtures).filter((f) => f.endsWith('.json') && !f.startsWith('hostile'))
      .sort().map((f) => ({ name: path.basename(f, '.json'), file: path.join(fixtures, f) }));
    cached = { all, sample: largest(all).file, hostile: path.join(fixtures, 'hostile.json'), source: 'fixtures' };
  }
  return cached;
}

function largest(all) {
  return all.reduce((a, b) => (fs.statSync(b.file).size > fs.statSync(a.file).size ? b : a));
}

// The document as plain JSON, read independently of the page's own code.
export function readDocument(file) {
  const text = fs.readFileSync(file, 'utf8');
  if (!text.startsWith(PREFIX)) throw new Error(file + ' does not start with the prefix');
  return JSON.parse(text.slice(PREFIX.length));
}

// Every leaf with its group path, for checks computed apart from the page.
export function flatLeaves(doc, prefix = []) {
  const out = [];
  const walk = (node, p) => {
    for (const [k, l] of Object.entries(node.leaves)) out.push({ key: k, path: p, ...l });
    for (const [k, c] of Object.entries(node.children)) walk(c, p.concat(k));
  };
  walk(doc, prefix);
  return out;
}

export function groupAt(doc, segments) {
  return segments.reduce((n, s) => n.children[s], doc);
}
