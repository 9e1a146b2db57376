// Reads and writes from the main screen against `voryx serve --simulate`: the virtual
// modem runs in the server on the demo SIM, kept in a SIM file that each write saves.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test, expect, openApp } from './voryx.mjs';

// Posts a tap from the page, as the page's own script would, with the current version.
// A stale version is retried: the answer must be about the event, not about the version.
async function postFromPage(page, target) {
  return page.evaluate(async (t) => {
    for (let attempt = 0; attempt < 5; ++attempt) {
      const state = await (await fetch('/api/state', { cache: 'no-store' })).json();
      const res = await fetch('/api/event', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ version: state.version, target: t, action: 'tap', value: null }),
      });
      const body = await res.json();
      if (!/^version /.test(body.error ?? '')) return { status: res.status, error: body.error ?? '' };
    }
    return { status: 0, error: 'the version kept changing' };
  }, target);
}

test('read the SIM (a second read is refused meanwhile), change a row, write it back', async ({ page, serve }, testInfo) => {
  // The SIM file does not exist before the first change.
  const simFile = testInfo.outputPath('sim.txt');
  const server = await serve(undefined, {}, ['--simulate', '--sim-file', simFile]);
  await openApp(page, server);
  const overlay = page.locator('.overlay');
  const caption = overlay.locator('.caption');
  const rows = page.locator('.row');

  await page.locator('.toolbar [data-id="leggi"]').click();
  await expect(caption).toHaveText('Initializing...');
  // Straight to the server, past the overlay that covers the buttons.
  for (const target of ['leggi', 'scrivi']) {
    expect(await postFromPage(page, target)).toEqual({ status: 409, error: 'the screen is covered by an overlay' });
  }
  await expect(caption).toHaveText(/^Places on the SIM: 250$/);
  await expect(overlay).toHaveCount(0, { timeout: 30_000 });
  await expect(page.locator('.navbar .title')).toHaveText(/^Vorx \(\d+\/250\)$/);
  expect(await rows.count()).toBeGreaterThan(10);
  await expect(page.locator('.row:not(.gray)')).toHaveCount(0);

  // An edit changes the store and marks the row; the list shows it once reloaded.
  const first = rows.first();
  const location = Number(await first.locator('.location').textContent());
  execFileSync('sqlite3', [path.join(server.home, 'data', 'Voryx.sqlitedb'),
    `UPDATE sim SET desc='Zed Written', operazione=3 WHERE entry=${location};`]);
  await page.locator('.segment').nth(1).click();
  await expect(page.locator('.segment').nth(1)).toHaveClass(/selected/);
  await page.locator('.segment').nth(0).click();
  await expect(first).toHaveClass(/cyan/);

  await page.locator('.toolbar [data-id="scrivi"]').click();
  await expect(caption).toHaveText('Initializing...');
  await expect(overlay.locator('.label')).toHaveText(/^Writing entry \d+$/);
  await expect(overlay).toHaveCount(0, { timeout: 30_000 });
  await expect(page.locator('.row:not(.gray)')).toHaveCount(0);
  await expect(first.locator('.name')).toHaveText('Zed Written');
  await expect(page.locator('.alert')).toHaveCount(0);
  expect(fs.readFileSync(simFile, 'utf8')).toMatch(new RegExp(`^adn ${location} [0-9A-Fa-f]+ +# Zed Written \\|`, 'm'));
});
