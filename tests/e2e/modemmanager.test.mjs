// A modem borrowed from ModemManager, as the screen tells it: a stand-in ModemManager on a
// private bus (tests/app/mm_standin.py) manages the virtual modem's port; a read puts the
// note under the progress overlay while the modem is lent, and the modem goes back when the
// read ends. Axe and three sizes.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { spawn } from 'node:child_process';
import { test, expect, openApp, lookAt } from './voryx.mjs';

test.use({ bypassCSP: true });

const kNote = 'ModemManager is holding this modem; it gets it back when the read ends';

// Starts a program and answers it with a promise of the first line it prints.
function start(file, args) {
  const child = spawn(file, args, { stdio: ['ignore', 'pipe', 'ignore'] });
  const firstLine = new Promise((resolve, reject) => {
    let out = '';
    child.stdout.on('data', (d) => {
      out += d;
      if (out.includes('\n')) resolve(out.slice(0, out.indexOf('\n')));
    });
    child.once('exit', () => reject(new Error(`${file} ended early`)));
  });
  return { child, firstLine };
}

async function until(done, what) {
  for (let i = 0; i < 200 && !done(); ++i) await new Promise((r) => setTimeout(r, 50));
  if (!done()) throw new Error(`no ${what}`);
}

test('a read on a modem ModemManager manages says so over the overlay and gives the modem back', async ({ page, serve }, testInfo) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'voryx-mm-'));
  const log = path.join(dir, 'mm.log');
  const children = [];
  try {
    const address = `unix:path=${path.join(dir, 'bus')}`;
    children.push(spawn('/usr/bin/dbus-daemon', ['--session', '--nofork', '--nosyslog', `--address=${address}`],
      { stdio: 'ignore' }));
    await until(() => fs.existsSync(path.join(dir, 'bus')), 'bus');
    // Slow replies: the read lasts long enough to be looked at.
    const sim = start(process.env.VORYX_BIN, ['modem-sim', '--entry-delay', '150']);
    children.push(sim.child);
    const pty = await sim.firstLine;
    children.push(spawn('/usr/bin/python3', [
      path.join(path.dirname(new URL(import.meta.url).pathname), '..', 'app', 'mm_standin.py'),
      '--bus', address, '--log', log, '--port', pty.replace(/^\/dev\//, '')], { stdio: 'ignore' }));
    const said = () => (fs.existsSync(log) ? fs.readFileSync(log, 'utf8') : '');
    await until(() => said().includes('ready\n'), 'stand-in ModemManager');

    const server = await serve(undefined, { DBUS_SYSTEM_BUS_ADDRESS: address, VORYX_LOCK_DIR: dir },
      ['--device', pty]);
    await page.setViewportSize({ width: 320, height: 480 });
    await openApp(page, server);
    await page.locator('.toolbar [data-id="leggi"]').focus();
    await page.keyboard.press('Enter');
    const note = page.locator('.overlay-note');
    await expect(note).toHaveText(kNote, { timeout: 20_000 });
    expect(said()).toMatch(/^inhibit \S+ :\S+$/m);
    // The note stays inside the screen and clear of the progress texts at every size.
    await lookAt(page, testInfo, 'modemmanager', async (width, height) => {
      await expect(note).toBeVisible();
      // Measured until the layout of the new size has settled (a busy machine lags).
      await expect.poll(async () => {
        const box = await note.boundingBox();
        const label = await page.locator('.overlay-label').boundingBox();
        return box.y + box.height <= height + 0.5 && box.y >= label.y + label.height - 0.5;
      }, { message: `${width}x${height}` }).toBe(true);
    });
    await expect(page.locator('.overlay')).toHaveCount(0, { timeout: 60_000 });
    await until(() => /^uninhibit /m.test(said()), 'uninhibit');
  } finally {
    for (const c of children.reverse()) c.kill('SIGTERM');
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
