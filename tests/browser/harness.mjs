// What the browser walk-through stands on: a temporary copy of the demo site served by the real
// tessaly binary, sqlite3 for reading what the pages stored, Debian's chromium driven by
// playwright-core, and a step runner that screenshots every step and fails a step whose pages
// logged a console error.
//
// Environment: TESSALY_BUILD_DIR (default <repo>/build) holds the binary `tessaly`; the
// screenshots and the server's log go to its browser-screenshots/. CHROMIUM overrides
// /usr/bin/chromium.
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { it } from 'node:test';
import { chromium } from 'playwright-core';

const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const tessaly = path.resolve(process.env.TESSALY_BUILD_DIR ?? path.join(repo, 'build'), 'tessaly');
export const shotDir = path.join(path.dirname(tessaly), 'browser-screenshots');

// A copy of demo/site with a database holding one administrator, served with the demo's
// configuration on a free loopback port.
export class Site {
  constructor({ user, password }) {
    this.root = fs.mkdtempSync(path.join(os.tmpdir(), 'tessaly-browser-'));
    fs.cpSync(path.join(repo, 'demo', 'site'), this.root, { recursive: true });
    execFileSync(tessaly, ['init', '--root', this.root, '--user', user, '--password-stdin'],
      { input: `${password}\n`, stdio: ['pipe', 'ignore', 'inherit'] });
  }

  // The rows of one statement, as objects.
  sql(statement) {
    const database = path.join(this.root, 'log', 'logs.mdb');
    const out = execFileSync('sqlite3', ['-json', database, statement], { encoding: 'utf8' });
    return out.trim() === '' ? [] : JSON.parse(out);
  }

  // Starts `tessaly serve` (standard error to `logFile`) and resolves to the URL it prints.
  async serve(logFile) {
    const log = fs.openSync(logFile, 'w');
    this.server = spawn(tessaly, ['serve', '--root', this.root, '--config',
      path.join(repo, 'demo', 'tessaly.toml'), '--listen', '127.0.0.1:0', '--drain-seconds', '0'],
    { stdio: ['ignore', 'pipe', log] });
    fs.closeSync(log);
    this.url = await new Promise((resolve, reject) => {
      let seen = '';
      this.server.stdout.on('data', (chunk) => {
        seen += chunk;
        const match = /http:\/\/\S+/.exec(seen);
        if (match) resolve(match[0]);
      });
      this.server.on('exit', (code) => reject(new Error(`tessaly serve exited with ${code}`)));
    });
  }

  // Stops the server (tests/e2e pin its clean exit) and removes the copy.
  async close() {
    if (this.server?.exitCode === null) {
      const exited = new Promise((resolve) => this.server.on('exit', resolve));
      this.server.kill('SIGTERM');
      await exited;
    }
    fs.rmSync(this.root, { recursive: true, force: true });
  }
}

// No sandbox as root, no GPU, no background connections that a closed network refuses.
export function launchChromium() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// One visitor (its own session cookie) whose pages report console errors and uncaught
// exceptions into `errors`; the demo site has no favicon, so that 404 is expected.
export async function newVisitor(browser, errors) {
  const context = await browser.newContext({ viewport: { width: 1000, height: 700 } });
  context.setDefaultTimeout(10000);
  context.on('page', (page) => {
    page.on('console', (message) => {
      if (message.type() === 'error' && !message.location().url.endsWith('/favicon.ico')) {
        errors.push(`${page.url()}: console: ${message.text()}`);
      }
    });
    page.on('pageerror', (error) => errors.push(`${page.url()}: uncaught: ${error.message}`));
  });
  return context;
}

// Steps that share state: they run in order, a failed step skips the rest, and each ends with
// a screenshot of `walk.page` (NN-name.png, NN-name-FAILED.png when it fails).
export class Walk {
  errors = [];
  page = null;
  count = 0;
  failed = null;

  step(name, body) {
    const id = `${String(++this.count).padStart(2, '0')}-${name}`;
    it(id, async (t) => {
      if (this.failed) return t.skip(`skipped after the failure of ${this.failed}`);
      this.errors.length = 0;
      let shot = id;
      try {
        await body();
        if (this.errors.length) throw new Error(`browser errors:\n  ${this.errors.join('\n  ')}`);
      } catch (error) {
        this.failed = id;
        shot += '-FAILED';
        error.message = `step ${id}: ${error.message} (screenshots in ${shotDir})`;
        throw error;
      } finally {
        if (this.page && !this.page.isClosed()) {
          await this.page.screenshot({ path: path.join(shotDir, `${shot}.png`), fullPage: true })
            .catch(() => {});
        }
      }
    });
  }
}

// Runs `action` (a click, a submit) and waits until the page has loaded where it led.
export async function navigates(page, action) {
  const committed = page.waitForEvent('framenavigated', (frame) => frame === page.mainFrame());
  await action();
  await committed;
  await page.waitForLoadState('load');
}

// Runs `action` and gives back the window it opened, loaded.
export async function opensWindow(context, action) {
  const [popup] = await Promise.all([context.waitForEvent('page'), action()]);
  await popup.waitForLoadState('load');
  return popup;
}

// The admin pages' buttons have spaced-out labels such as " 确    定 "; accessible names
// collapse the spaces, so "确 定" finds either spacing.
export function button(frame, label) {
  return frame.getByRole('button', { name: label, exact: true });
}

// Serves `html` at every path from a free port of the loopback address: a page of another origin
// of the same site. Resolves to { url, close }.
export async function servePage(html) {
  const server = http.createServer((request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
    response.end(html);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}/`,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}
