// Which document paths the page's address may name, in node: relative paths on the page's own
// site load; schemes, hosts, backslashes, absolute paths and the characters the URL parser
// drops before it looks are refused, from an http page and from a file page alike.
import { describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';

const L = createRequire(import.meta.url)('../load.js');

const PAGES = ['http://127.0.0.1:8000/ci/viewer/index.html?data=x', 'file:///home/u/vorlith/viewer/index.html'];

describe('document paths in the address', () => {
  it('accepts paths relative to the page and loads exactly what they resolve to', () => {
    const cases = [
      ['out.json', 'out.json'], ['../out/sample.json', '../out/sample.json'], ['./a b.json', './a%20b.json'],
      ['docs/%2F%2Fevil.json', 'docs/%2F%2Fevil.json'], ['a:b/../c.json', null], ['..%2F..%2Fx.json', '..%2F..%2Fx.json'],
      ['?x=1', '?x=1'], ['x.json#frag', 'x.json#frag'],
    ];
    for (const page of PAGES) {
      for (const [value, rel] of cases) {
        const got = L.checkDocumentPath(value, page);
        if (rel === null) {
          assert.ok(got.error, `${page}: ${value} refused`);
          continue;
        }
        assert.equal(got.error, undefined, `${page}: ${value}: ${got.error}`);
        assert.equal(got.url, new URL(rel, page).href, `${page}: ${value}`);
      }
    }
  });

  it('refuses every shape that names a scheme, another host or an absolute path, and says why', () => {
    const shapes = [
      'http://127.0.0.1:9999/evil.js', 'HTTPS://evil.example/evil.js', '//127.0.0.1:9999/evil.js', '///evil.example/x.js',
      '\\\\127.0.0.1:9999\\evil.js', '/\\127.0.0.1:9999/evil.js', '\\/127.0.0.1:9999/evil.js', 'data:text/javascript,window.__pwned=1',
      'javascript:window.__pwned=1', ' JavaScript:alert(1)', 'blob:http://127.0.0.1:8000/uuid', 'file:///etc/passwd', 'http:evil.js',
      ' //127.0.0.1:9999/evil.js', '\t//127.0.0.1:9999/evil.js', '/\t/127.0.0.1:9999/evil.js', '\n/\n/127.0.0.1:9999/evil.js',
      '\u0000//evil.example/x.js', '/etc/passwd', '/ci/evil.js', 'ja\tvascript:alert(1)', 'c:\\docs\\x.json', 'vbscript:x', '',
      '   ', 'a\\b.json',
    ];
    for (const page of PAGES) {
      for (const value of shapes) {
        const got = L.checkDocumentPath(value, page);
        assert.equal(got.url, undefined, `${page}: ${JSON.stringify(value)} was accepted as ${got.url}`);
        assert.match(got.error, /is not loaded: .+\?data= and &base= accept only a path relative to this page/, JSON.stringify(value));
      }
    }
  });
});
