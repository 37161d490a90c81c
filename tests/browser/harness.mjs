// What the browser walk-through stands on: a temporary copy of the demo site served by the real
// tessaly binary, sqlite3 for looking at what the pages stored, Debian's chromium driven by
// playwright-core, and a step runner that screenshots every step and fails a step whose pages
// logged a console error.
//
// Environment: TESSALY_BUILD_DIR (default <repo>/build) holds the binary `tessaly`; the
// screenshots, the server's log and a failure's screenshots go to its browser-screenshots/.
// CHROMIUM overrides /usr/bin/chromium.
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { it } from 'node:test';
import { chromium } from 'playwright-core';

export const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const buildDir = path.resolve(process.env.TESSALY_BUILD_DIR ?? path.join(repo, 'build'));
export const shotDir = path.join(buildDir, 'browser-screenshots');

// A copy of demo/site with a database holding one administrator, served with the demo's
// configuration (its site texts) on a free loopback port.
export class Site {
  constructor({ user, password }) {
    this.root = fs.mkdtempSync(path.join(os.tmpdir(), 'tessaly-browser-'));
    this.database = path.join(this.root, 'log', 'logs.mdb');
    fs.cpSync(path.join(repo, 'demo', 'site'), this.root, { recursive: true });
    execFileSync(path.join(buildDir, 'tessaly'),
      ['init', '--root', this.root, '--user', user, '--password-stdin'],
      { input: `${password}\n`, stdio: ['pipe', 'ignore', 'inherit'] });
  }

  // Runs one statement and gives back the rows as objects (none for statements without rows).
  sql(statement) {
    const out = execFileSync('sqlite3', ['-json', this.database, statement], { encoding: 'utf8' });
    return out.trim() === '' ? [] : JSON.parse(out);
  }

  // The only value of a one-row, one-column query.
  value(statement) {
    const rows = this.sql(statement);
    if (rows.length !== 1) throw new Error(`expected one row from ${statement}, got ${rows.length}`);
    return Object.values(rows[0])[0];
  }

  // Starts `tessaly serve` and resolves to its URL once it has printed it; its standard error
  // goes to `logFile`, so that a failure can be read up on.
  async serve(logFile) {
    const log = fs.openSync(logFile, 'w');
    this.server = spawn(path.join(buildDir, 'tessaly'),
      ['serve', '--root', this.root, '--config', path.join(repo, 'demo', 'tessaly.toml'),
        '--listen', '127.0.0.1:0'],
      { stdio: ['ignore', 'pipe', log] });
    fs.closeSync(log);
    this.url = await new Promise((resolve, reject) => {
      let seen = '';
      const timer = setTimeout(() => reject(new Error(`no URL from tessaly serve: ${seen}`)), 15000);
      this.server.stdout.on('data', (chunk) => {
        seen += chunk;
        const match = /http:\/\/[^\s]+/.exec(seen);
        if (match) { clearTimeout(timer); resolve(match[0]); }
      });
      this.server.on('exit', (code) => reject(new Error(`tessaly serve exited with ${code}: ${seen}`)));
    });
    return this.url;
  }

  // Stops the server the way a service manager does and gives back its exit code.
  async stop() {
    if (!this.server || this.server.exitCode !== null) return this.server?.exitCode;
    const exited = new Promise((resolve) => this.server.on('exit', (code) => resolve(code)));
    this.server.kill('SIGTERM');
    return exited;
  }

  remove() {
    fs.rmSync(this.root, { recursive: true, force: true });
  }
}

// Debian's chromium, started as the machine is known to need it: no sandbox as root, no GPU,
// and no background connections to hosts that a closed network refuses. Playwright gives every
// launch a new empty profile folder of its own.
export async function launchChromium() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// The one console error that is expected: Chromium asks every site for /favicon.ico, the demo
// site has none, and a 404 is the right answer to that.
function expected(message) {
  return message.location().url.endsWith('/favicon.ico') && / 404 /.test(message.text());
}

// A browser context (one visitor with its own session cookie) whose every page reports its
// console errors (but the expected one) and uncaught exceptions into `errors`.
export async function newVisitor(browser, errors) {
  const context = await browser.newContext({ viewport: { width: 1000, height: 700 } });
  context.setDefaultTimeout(10000);
  const watch = (page) => {
    page.on('console', (message) => {
      if (message.type() !== 'error' || expected(message)) return;
      const source = message.location().url;
      errors.push(`${page.url()}: console: ${message.text()}${source ? ` [${source}]` : ''}`);
    });
    page.on('pageerror', (error) => errors.push(`${page.url()}: uncaught: ${error.message}`));
  };
  context.on('page', watch);
  return context;
}

// The steps of one walk-through share state, so they run in order and a failed step skips the
// rest. Each step ends with a screenshot of the page it worked on (`walk.page`), saved as
// NN-name.png; a failing step saves every open page as NN-name-FAILED-k.png. A console error or
// uncaught exception during a step fails that step.
export class Walk {
  constructor(browserRef) {
    this.browserRef = browserRef;
    this.errors = [];
    this.page = null;
    this.count = 0;
    this.failed = null;
  }

  step(name, body) {
    const id = `${String(++this.count).padStart(2, '0')}-${name}`;
    it(id, async (t) => {
      if (this.failed) {
        t.skip(`skipped after the failure of ${this.failed}`);
        return;
      }
      this.errors.length = 0;
      try {
        await body();
        if (this.errors.length) {
          throw new Error(`the browser logged errors:\n  ${this.errors.join('\n  ')}`);
        }
        if (this.page && !this.page.isClosed()) {
          await this.page.screenshot({ path: path.join(shotDir, `${id}.png`), fullPage: true });
        }
      } catch (error) {
        this.failed = id;
        await this.screenshotAll(`${id}-FAILED`);
        error.message = `step ${id}: ${error.message} (screenshots in ${shotDir})`;
        throw error;
      }
    });
  }

  async screenshotAll(prefix) {
    const browser = this.browserRef();
    if (!browser) return;
    let k = 0;
    for (const context of browser.contexts()) {
      for (const page of context.pages()) {
        await page.screenshot({ path: path.join(shotDir, `${prefix}-${++k}.png`), fullPage: true })
          .catch(() => {});
      }
    }
  }
}

// Runs `action` (a click, a submit) and waits until the page has loaded what it led to.
export async function navigates(page, action) {
  const committed = page.waitForEvent('framenavigated', (frame) => frame === page.mainFrame());
  await action();
  await committed;
  await page.waitForLoadState('load');
}

// Runs `action` and gives back the window it opened (window.open or a target=_blank link),
// loaded.
export async function opensWindow(context, action) {
  const [popup] = await Promise.all([context.waitForEvent('page'), action()]);
  await popup.waitForLoadState('load');
  return popup;
}

// The admin pages' buttons are <input type=button|submit> with spaced-out labels such as
// " 确    定 "; their accessible names collapse the spaces, so " 确 定" finds either spacing.
export function button(frame, label) {
  return frame.getByRole('button', { name: label, exact: true });
}

// The control panel's radio buttons have no label element: the text after each one names it.
export function radio(frame, label) {
  return frame.locator(
    `xpath=//input[@type='radio'][normalize-space(following-sibling::text()[1])='${label}']`);
}
