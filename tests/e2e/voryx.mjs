// Starts `voryx serve` for one test: a fresh VORYX_HOME (or the one of a server started
// before, to start it again), an optional prefilled database, the server as a direct
// child of this process, stopped by its PID when the test ends.
import { test as base, expect } from '@playwright/test';
import { spawn, spawnSync, execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export { expect };

const bin = process.env.VORYX_BIN;
const binaryDir = process.env.VORYX_BINARY_DIR;

// rows: {phonebook: [[location, name, number, mark], ...], sms: [...], and which SIM each
// store was read from: simcard: [['sim' | 'simsms', iccid, imsi], ...], and the SMS that
// are parts of a long message: parts: [[entry, reference, total, part], ...]}
function prefill(home, rows) {
  const db = path.join(home, 'data', 'Voryx.sqlitedb');
  fs.mkdirSync(path.dirname(db), { mode: 0o700 });
  fs.copyFileSync(path.join(binaryDir, 'resources', 'Voryx.sqlitedb'), db);
  const text = (v) => `'${String(v).replaceAll("'", "''")}'`;
  const inserts = [['sim', rows.phonebook], ['simsms', rows.sms]].flatMap(([table, list = []]) => list.map(
    ([entry, desc, number, mark]) => `INSERT INTO ${table} VALUES (${+entry}, ${text(desc)}, ${text(number)}, ${+mark});`));
  for (const [entry, reference, total, part] of rows.parts ?? []) {
    inserts.push(`INSERT INTO simparts VALUES (${+entry}, ${+reference}, ${+total}, ${+part});`);
  }
  for (const [store, iccid, imsi] of rows.simcard ?? []) {
    inserts.push(`INSERT INTO simcard VALUES (${text(store)}, ${text(iccid)}, ${text(imsi)});`);
  }
  execFileSync('sqlite3', [db], { input: `BEGIN;\n${inserts.join('\n')}\nCOMMIT;\n` });
}

// The offer of fast transfers comes after the first slow transfer and would stand over the
// screen of every test that reads: every home starts with it answered (a test's own
// preferences are kept).
function answerFastOffer(home) {
  const file = path.join(home, 'config', 'preferences.json');
  const prefs = fs.existsSync(file) ? JSON.parse(fs.readFileSync(file, 'utf8')) : {};
  if ('fastOffered' in prefs) return;
  fs.mkdirSync(path.dirname(file), { recursive: true, mode: 0o700 });
  fs.writeFileSync(file, JSON.stringify({ ...prefs, fastOffered: 1 }));
}

// again: {home, port} of a server started before, to start one on the same port and
// folder (whose first one removes the folder when it stops).
async function startVoryx(rows, env = {}, args = [], again = null) {
  if (!bin || !binaryDir) throw new Error('VORYX_BIN and VORYX_BINARY_DIR must be set');
  const home = again?.home ?? fs.mkdtempSync(path.join(os.tmpdir(), 'voryx-e2e-'));
  if (rows) prefill(home, rows);
  answerFastOffer(home);
  const child = spawn(bin, ['serve', '--port', String(again?.port ?? 0), ...args], {
    env: { ...process.env, VORYX_HOME: home, ...env },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
  let stderr = '';
  child.stderr.on('data', (d) => (stderr += d));
  const url = await new Promise((resolve, reject) => {
    let out = '';
    child.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/^(http:\/\/\S+\/\?token=[0-9a-f]{32})$/m);
      if (m) resolve(m[1]);
    });
    exited.then(({ code, signal }) => reject(new Error(`voryx serve ended (${code ?? signal}) before printing its URL\n${stderr}`)));
  });
  const { origin, port } = new URL(url);
  return {
    url,
    origin,
    port: Number(port),
    home,
    // Sends a signal (SIGSTOP freezes the server: its connections stay open, silent).
    signal(name) {
      child.kill(name);
    },
    // Ends it at once, as a crash would; the folder stays for the next server.
    async kill() {
      child.kill('SIGKILL');
      return exited;
    },
    // SIGTERM, then SIGKILL if it has not ended within 10 s. Answers how it ended.
    async stop() {
      if (child.exitCode === null && child.signalCode === null) {
        child.kill('SIGCONT');
        child.kill('SIGTERM');
        const timer = setTimeout(() => child.kill('SIGKILL'), 10_000);
        await exited;
        clearTimeout(timer);
      }
      if (!again) fs.rmSync(home, { recursive: true, force: true });
      return exited;
    },
  };
}

// `serve(rows, env, args, again)` starts a server for this test (args: more options for
// `voryx serve`; again: see startVoryx); every one started is stopped at its end, pass or
// fail, the last started first.
export const test = base.extend({
  serve: async ({}, use) => {
    const started = [];
    await use(async (rows, env, args, again) => {
      const s = await startVoryx(rows, env, args, again);
      started.push(s);
      return s;
    });
    for (const s of started.reverse()) await s.stop();
  },
});

// Runs `voryx args...` to its end; answers its exit status and what it wrote.
export function runVoryx(args) {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'voryx-e2e-'));
  try {
    const r = spawnSync(bin, args, { encoding: 'utf8', timeout: 20_000, env: { ...process.env, VORYX_HOME: home } });
    return { status: r.status, out: r.stdout + r.stderr };
  } finally {
    fs.rmSync(home, { recursive: true, force: true });
  }
}

// Opens the printed URL and waits for the first snapshot to be drawn.
export async function openApp(page, server) {
  await page.goto(server.url);
  await expect(page.locator('.navbar .title')).not.toHaveText('');
}

const axePath = createRequire(import.meta.url).resolve('axe-core/axe.min.js');

// axe's serious and critical findings on the page as it stands ("rule: selector, ..."). A
// test that calls it uses `test.use({ bypassCSP: true })`: axe comes as an inline script,
// which the page's policy refuses.
export async function seriousViolations(page) {
  if (!(await page.evaluate(() => 'axe' in window))) await page.addScriptTag({ path: axePath });
  const { violations } = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
  return violations
    .filter((v) => v.impact === 'serious' || v.impact === 'critical')
    .map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
}

// The window sizes every screen is looked at: a phone upright and sideways, a desktop.
export const kSizes = [[320, 480], [480, 320], [1280, 800]];

// The screen as it stands, looked at: axe finds nothing serious on it (unless `axe` is
// false), then at each size, once the layout has settled, `check(width, height)` holds
// and a picture `<name>-<width>x<height>.png` is attached to the test. The window is
// 320x480 again afterwards.
export async function lookAt(page, testInfo, name, check = async () => {}, { axe = true, fullPage = false } = {}) {
  if (axe) expect(await seriousViolations(page), name).toEqual([]);
  for (const [width, height] of kSizes) {
    await page.setViewportSize({ width, height });
    await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
    await check(width, height);
    const file = testInfo.outputPath(`${name}-${width}x${height}.png`);
    await page.screenshot({ path: file, fullPage });
    await testInfo.attach(`${name} ${width}x${height}`, { path: file, contentType: 'image/png' });
  }
  await page.setViewportSize({ width: 320, height: 480 });
}
