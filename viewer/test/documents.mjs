// Documents the browser tests open. With VORLITH_BIN set, they are made by running that vorlith
// executable on the repository's real maps (tests/data/*.map, examples/sample.map) and on a small
// map with hostile names written here; without it, the committed copies in test/fixtures/ are used.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { repoDir, tempDir, viewerDir } from './browser.mjs';

const fixtures = path.join(viewerDir, 'test', 'fixtures');
const PREFIX = 'var treeData = ';

export const HOSTILE_NAMES = [
  '<script>window.__pwned=1</script>',
  '<img src=x onerror="window.__pwned=2">',
  '"quoted" & \'apostrophe\' </b>',
  '<svg onload=window.__pwned=3>',
];

// A GNU ld memory map: one input-section line whose object path holds markup (it becomes groups
// under "Afterpadding"), then symbol lines of 16 spaces, 0x and 16 hex digits, 16 spaces and the
// name. A symbol's size is the distance to the next, so the last ones only end the others.
export const HOSTILE_GROUP = '<img src=z onerror=window.__pwned=5>';

export function hostileMapText() {
  const line = (addr, name) => ' '.repeat(16) + '0x' + addr.toString(16).padStart(16, '0') + ' '.repeat(16) + name;
  const symbols = HOSTILE_NAMES.map((n, i) => line(0x401000 + i * 0x40, n));
  return [' .text          0x0000000000401000      0x200 /tmp/' + HOSTILE_GROUP + '/evil.o']
    .concat(symbols, [line(0x401100, 'zz_end_of_text'), line(0x401300, 'zz_after'), line(0x401400, 'zz_last'), '']).join('\n');
}

// Names that JavaScript objects treat specially: plain symbols, and D symbols whose modules
// (top-level groups) and members carry them. Same map format as above.
export const SPECIAL_NAMES = ['__proto__', 'constructor', 'toString', 'hasOwnProperty', 'valueOf'];

export function specialMapText() {
  const line = (addr, name) => ' '.repeat(16) + '0x' + addr.toString(16).padStart(16, '0') + ' '.repeat(16) + name;
  const names = SPECIAL_NAMES.concat(['_D9__proto__3runFZv', '_D9__proto__9__proto__i', '_D11constructor8toStringFZv',
    '_D8toString11constructor9__proto__FZv', '_D7valueOf14hasOwnPropertyi']);
  // The input section is shorter than its symbols, so its object path is filed too (under
  // "Afterpadding", as groups "/", "tmp", "__proto__", "constructor.o").
  return [' .text          0x0000000000401000      0x200 /tmp/__proto__/constructor.o']
    .concat(names.map((n, i) => line(0x401000 + i * 0x40 + (i % 3) * 8, n)),
      [line(0x401300, 'zz_end'), line(0x401500, 'zz_after'), line(0x401600, 'zz_last'), '']).join('\n');
}


// The sample is drawn as the README's demo makes it, with --modern.
function runVorlith(bin, map, out) {
  const options = path.basename(map) === 'sample.map' ? ['--modern'] : [];
  execFileSync(bin, [...options, map, out], { stdio: ['ignore', 'ignore', 'pipe'] });
  return out;
}

// The tool's own tests judge its failures; the page is tested on the documents it does write.
function tryVorlith(bin, map, out) {
  try {
    return runVorlith(bin, map, out);
  } catch (e) {
    console.error(`# skipping ${path.basename(map)}: vorlith failed (${String(e.stderr || e.message).trim()})`);
    return null;
  }
}

function realMaps() {
  const dir = path.join(repoDir, 'tests', 'data');
  const maps = fs.existsSync(dir)
    ? fs.readdirSync(dir).filter((f) => f.endsWith('.map')).sort().map((f) => path.join(dir, f))
    : [];
  const builds = path.join(viewerDir, 'test', 'builds');
  for (const b of ['before', 'after']) maps.push(path.join(builds, b + '.map'));
  const sample = path.join(repoDir, 'examples', 'sample.map');
  if (fs.existsSync(sample)) maps.push(sample);
  return maps;
}

let cached = null;

// { all: [{ name, file }], sample, hostile, special, sections, before, after: files,
// source: 'vorlith' | 'fixtures' }.
// before/after are one small program's builds before and after a change (test/builds/).
export function documents() {
  if (cached) return cached;
  // A relative VORLITH_BIN is taken from where the command was typed (npm's INIT_CWD), so
  // `VORLITH_BIN=build/vorlith npm --prefix viewer test` works from the repository root.
  let bin = process.env.VORLITH_BIN;
  if (bin && bin.includes('/')) {
    bin = path.resolve(process.env.INIT_CWD || process.cwd(), bin);
    if (!fs.existsSync(bin)) throw new Error(`VORLITH_BIN: ${bin} does not exist`);
  }
  const maps = bin ? realMaps() : [];
  if (bin && maps.length) {
    const out = tempDir('vorlith-docs-');
    const all = maps.map((m) => ({
      name: path.basename(m, '.map'),
      file: tryVorlith(bin, m, path.join(out, path.basename(m, '.map') + '.json')),
    })).filter((d) => d.file);
    if (!all.length) throw new Error('vorlith wrote no document for any map');
    const hostileMap = path.join(out, 'hostile.map');
    fs.writeFileSync(hostileMap, hostileMapText());
    const hostile = runVorlith(bin, hostileMap, path.join(out, 'hostile.json'));
    const specialMap = path.join(out, 'special-names.map');
    fs.writeFileSync(specialMap, specialMapText());
    const special = runVorlith(bin, specialMap, path.join(out, 'special-names.json'));
    const sample = all.find((d) => d.name === 'sample') || largest(all);
    const build = (b) => (all.find((d) => d.name === b) || {}).file;
    // The sample read by the classic rules as well: its deeper, flatter groups give views
    // crowded enough to merge their smallest boxes.
    const classicSample = path.join(out, 'sample-classic.json');
    execFileSync(bin, [path.join(repoDir, 'examples', 'sample.map'), classicSample], { stdio: ['ignore', 'ignore', 'pipe'] });
    // A program laid out by its sections: its binary beside its map, so leaves carry their
    // section, its kind and their object file.
    const elfDir = path.join(repoDir, 'tests', 'data', 'elf');
    const sections = path.join(out, 'sections.json');
    execFileSync(bin, ['--elf=' + path.join(elfDir, 'gdc-bfd.elf'), path.join(elfDir, 'gdc-bfd.map'), sections],
      { stdio: ['ignore', 'ignore', 'pipe'] });
    cached = {
      all, sample: sample.file, classicSample, hostile, special, sections, before: build('before'), after: build('after'),
      source: 'vorlith',
    };
  } else {
    if (bin) console.error('VORLITH_BIN is set but no maps were found; using test/fixtures');
    const all = fs.readdirSync(fixtures)
      .filter((f) => f.endsWith('.json') && !f.startsWith('hostile') && !f.startsWith('special') && !f.startsWith('sections'))
      .sort().map((f) => ({ name: path.basename(f, '.json').replace(/^build-/, ''), file: path.join(fixtures, f) }));
    const sample = all.find((d) => d.name === 'sample') || largest(all);
    cached = {
      all, sample: sample.file, hostile: path.join(fixtures, 'hostile.json'), special: path.join(fixtures, 'special-names.json'),
      sections: path.join(fixtures, 'sections.json'),
      before: path.join(fixtures, 'build-before.json'), after: path.join(fixtures, 'build-after.json'), source: 'fixtures',
    };
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
