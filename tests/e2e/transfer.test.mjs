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

// Opens the edit screen from a sheet button, types into its fields, and confirms.
async function editOnScreen(page, sheetButton, fields) {
  await page.locator('.sheet').getByRole('button', { name: sheetButton }).click();
  const editor = page.getByRole('dialog', { name: 'edit value' });
  await expect(editor).toBeVisible();
  for (const [name, text] of Object.entries(fields)) await editor.getByRole('textbox', { name }).fill(text);
  await editor.getByRole('button', { name: 'Save' }).click();
  await expect(editor).toHaveCount(0);
}

test('read the SIM (a second read is refused meanwhile), edit, add and delete rows, write them back', async ({ page, serve }, testInfo) => {
  // A new SIM file: saved at start, a demo SIM with an identity of its own.
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
  await expect(page.locator('.navbar .title')).toHaveText(/^Vorx \(36\/250\)$/);
  await expect(page.locator('.row:not(.gray)')).toHaveCount(0);

  // Change the first row, add one, delete the second: cyan, green, red.
  const first = rows.first();
  const second = rows.nth(1);
  const [location, gone] = [Number(await first.locator('.location').textContent()), Number(await second.locator('.location').textContent())];
  await first.click();
  await editOnScreen(page, 'Edit entry', { Name: 'Zed Written', Number: '+39 (02) 555' });
  await expect(first).toHaveClass(/cyan/);
  await page.locator('.toolbar [data-id="add"]').click();
  await editOnScreen(page, 'New entry', { Name: 'Nuova Voce Lunghissima', Number: '0212' });
  const added = page.locator('.row', { hasText: 'Nuova Voce Lun' });
  await expect(added).toHaveClass(/green/);
  await expect(added.locator('.location')).toHaveText('37');
  await second.click();
  await page.locator('.sheet').getByRole('button', { name: 'Delete entry' }).click();
  await expect(second).toHaveClass(/red/);

  // The write asks first, with what it would send.
  await page.locator('.toolbar [data-id="scrivi"]').click();
  await page.getByRole('alertdialog', { name: 'Write 3 changes to the SIM? (1 new, 1 changed, 1 deleted)' })
    .getByRole('button', { name: 'Write', exact: true }).click();
  await expect(caption).toHaveText('Initializing...');
  await expect(overlay.locator('.label')).toHaveText(/^(Writing|Deleting) entry \d+$/);
  await expect(overlay).toHaveCount(0, { timeout: 30_000 });
  await expect(page.locator('.alert')).toHaveCount(0);
  await expect(page.locator('.row:not(.gray)')).toHaveCount(0);
  const sim = fs.readFileSync(simFile, 'utf8');
  expect(sim).toMatch(new RegExp(`^adn ${location} [0-9A-Fa-f]+ +# Zed Written \\| \\+3902555`, 'm'));
  expect(sim).toMatch(/^adn 37 [0-9A-Fa-f]+ +# Nuova Voce Lun \| 0212/m);
  expect(sim).not.toMatch(new RegExp(`^adn ${gone} `, 'm'));

  // A second read finds on the SIM exactly what was shown.
  const shown = await rows.allTextContents();
  await page.locator('.toolbar [data-id="leggi"]').click();
  await expect(overlay).toHaveCount(0, { timeout: 30_000 });
  await expect(page.locator('.navbar .title')).toHaveText('Vorx (36/250)');
  expect(await rows.allTextContents()).toEqual(shown);
});
