// The files of the tool sheet as downloads: "Export to file" writes Voryx.csv into the
// documents folder and "Yes" downloads the very same bytes, as "Export to vCard" does with
// Voryx.vcf. (The restore of the file is the harness's: it shows nothing of its own.)
import fs from 'node:fs';
import path from 'node:path';
import { test, expect, openApp } from './voryx.mjs';

const kRows = [[1, 'Zoë Müller', '+41791234567', 0], [2, 'Иван Петров', '+79161234567', 1], [3, '山田太郎', '0312345678', 0]];

const tool = (page, name) => async () => {
  await page.locator('.toolbar [data-id="tool"]').click();
  await page.locator('.sheet').getByRole('button', { name }).click();
};

test('export downloads the file byte for byte', async ({ page, serve }) => {
  const server = await serve({ phonebook: kRows }, {}, ['--simulate']);
  await page.setViewportSize({ width: 320, height: 480 });
  await openApp(page, server);
  const file = path.join(server.home, 'Documents', 'Voryx.csv');
  const dialog = page.getByRole('alertdialog');
  const exported = async (command, name) => {
    await tool(page, command)();
    await expect(dialog).toContainText(`File ${name} create into ${path.dirname(file)}`);
    const [download] = await Promise.all([page.waitForEvent('download'), dialog.getByRole('button', { name: 'Yes' }).click()]);
    expect(download.suggestedFilename()).toBe(name);
    const written = fs.readFileSync(path.join(path.dirname(file), name));
    expect(fs.readFileSync(await download.path()).equals(written)).toBe(true);
    return written.toString('utf8');
  };

  expect((await exported('Export to file', 'Voryx.csv')).split('\n').filter(Boolean).sort())
    .toEqual(kRows.map(([, name, number]) => `${name};${number}`).sort());
  const cards = await exported('Export to vCard', 'Voryx.vcf');
  expect(cards.match(/^FN:.*$/gm).map((l) => l.slice(3).trim()).sort()).toEqual(kRows.map(([, name]) => name).sort());
});
