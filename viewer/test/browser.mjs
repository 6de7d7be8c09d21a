// Shared set-up of the page's browser tests: Debian's chromium driven headless by playwright-core,
// with a fresh profile per launch and every request recorded, so a test can prove the page stayed
// offline.
import { chromium } from 'playwright-core';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

export const viewerDir = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
export const repoDir = path.resolve(viewerDir, '..');
export const pageFile = path.join(viewerDir, 'index.html');

const CHROMIUM = process.env.CHROMIUM_BIN || '/usr/bin/chromium';
const ARGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// Temporary directories made by the tests, removed when the test process ends.
const temporary = [];
process.on('exit', () => {
  for (const d of temporary) fs.rmSync(d, { recursive: true, force: true });
});

export function tempDir(prefix) {
  const d = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  temporary.push(d);
  return d;
}

export async function launch({ width = 1400, height = 900 } = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlith-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM, headless: true, args: ARGS, viewport: { width, height },
  });
  // Tests wait for conditions, never for time; the machine they share may be very busy, so a
  // condition gets minutes rather than playwright's default half a minute.
  context.setDefaultTimeout(180000);
  const requests = [];
  const errors = [];
  context.on('request', (r) => requests.push(r.url()));
  context.on('page', (p) => watch(p, errors));
  for (const p of context.pages()) watch(p, errors);
  return {
    context, requests, errors,
    async newPage() {
      const page = await context.newPage();
      return page;
    },
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Records the dialogs that any page of the browser opens (and dismisses them), and makes every
// page keep the violations of its Content-Security-Policy in window.__violations.
export async function watchDialogsAndPolicy(browser) {
  const dialogs = [];
  browser.context.on('page', (p) => p.on('dialog', (d) => {
    dialogs.push(d.message());
    d.dismiss().catch(() => {});
  }));
  await browser.context.addInitScript(() => {
    window.__violations = [];
    document.addEventListener('securitypolicyviolation', (e) => window.__violations.push(e.violatedDirective + ' ' + e.blockedURI));
  });
  return dialogs;
}

function watch(page, errors) {
  page.on('pageerror', (e) => errors.push({ url: page.url(), message: String(e) }));
}

// A document's path as ?data= takes it: relative to the page.
export function relativeToPage(file) {
  return path.relative(viewerDir, file).split(path.sep).join('/');
}

// The page's URL for document paths.
export function pageUrl({ data, base, hash } = {}) {
  const u = pathToFileURL(pageFile);
  const q = new URLSearchParams();
  if (data) q.set('data', relativeToPage(data));
  if (base) q.set('base', relativeToPage(base));
  const qs = q.toString();
  return u.href + (qs ? '?' + qs : '') + (hash || '');
}

export async function openPage(browser, opts) {
  const page = await browser.newPage();
  await page.goto(pageUrl(opts));
  await page.waitForFunction(() => window.vorlithViewer && window.vorlithViewer.state !== 'loading');
  return page;
}
