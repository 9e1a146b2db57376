// The address book's screens, against a sample book (contacts.vcf: cards of vCard 2.1, 3.0
// and 4.0, one with a photo, one without numbers): the people picker opened from the add
// sheet, whose list narrows as the user types, the contact phone picker it leads to (one
// number, or all of them, become new rows), the unknown-person card that writes a row into
// the book; by mouse and by keyboard, and how each screen looks at three window sizes.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test as base, expect, openApp, lookAt as lookAtSizes, kSizes } from './voryx.mjs';

const kSample = new URL('contacts.vcf', import.meta.url).pathname;
const kPeople = ['Anna Rossi', 'ACME S.p.A.', 'Bruno Romano', 'Carla Verdi', 'Dino Neri'];

// axe is injected as an inline script, which the page's policy refuses.
base.use({ bypassCSP: true });

// `start(rows)`: voryx serve with a copy of the sample book that the test may change
// (`book`), and a SIM of 250 places as a read would have found it (else every new row would
// find the SIM full). The folder is the test's own, removed at its end.
const test = base.extend({
  place: async ({}, use) => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'voryx-book-'));
    const home = path.join(dir, 'home');
    fs.mkdirSync(path.join(home, 'config'), { recursive: true, mode: 0o700 });
    fs.writeFileSync(path.join(home, 'config', 'preferences.json'), '{"maxSIM": 250}\n');
    const book = path.join(dir, 'contacts.vcf');
    fs.copyFileSync(kSample, book);
    await use({ home, book });
    fs.rmSync(dir, { recursive: true, force: true });
  },
  book: async ({ place }, use) => use(place.book),
  start: async ({ place, serve }, use) => {
    await use((rows) => serve({ phonebook: rows }, {}, ['--simulate', '--contacts', place.book], { home: place.home, port: 0 }));
  },
});

// The title of the screen on show (the one under a modal keeps its own, hidden).
const titleOf = (page) => page.locator('.screen:not([inert]) > .navbar .title');


// The screen: axe (unless `axe` is false), and at each size its bar buttons in the window
// and clear of the title, which a long back button ("Vorx (0/250)") could push into; a
// picture of each, attached.
async function lookAt(page, testInfo, name, axe = true) {
  await lookAtSizes(page, testInfo, name, async (width, height) => {
    const title = await titleOf(page).boundingBox();
    for (const bar of await page.locator('.screen:not([inert]) > .navbar .barbutton').all()) {
      const b = await bar.boundingBox();
      const what = `${name} ${width}x${height} ${await bar.textContent()}`;
      expect(b.x >= 0 && b.x + b.width <= width, what).toBe(true);
      expect(b.x + b.width <= title.x + 0.5 || b.x >= title.x + title.width - 0.5, what).toBe(true);
    }
  }, { axe });
}

async function openPicker(page) {
  await page.locator('.toolbar [data-id="add"]').click();
  await page.locator('.sheet').getByRole('button', { name: 'From address book' }).click();
  const picker = page.getByRole('dialog', { name: 'Contacts' });
  await expect(picker).toBeVisible();
  return picker;
}

const newRows = (page) => page.locator('.list-row.list-green').evaluateAll((rows) =>
  rows.map((r) => [r.querySelector('.list-name').textContent, r.querySelector('.list-number').textContent]));

test('the picker narrows as the user types; a number, or all of a person\'s, become new rows', async ({ page, start }, testInfo) => {
  const server = await start([[1, 'Zoe', '+3901', 0]]);
  await page.setViewportSize({ width: 320, height: 480 });
  await openApp(page, server);
  let picker = await openPicker(page);
  await expect(picker.locator('.people-name')).toHaveText(kPeople);
  await expect(picker.locator('.people-detail')).toHaveText(['2 numbers', '1 number', '3 numbers', '1 number', '0 numbers']);
  // Anna's photo comes from the book through the session's files, the others are the
  // placeholder; every one is drawn.
  await expect.poll(() => picker.locator('.people-row img').evaluateAll((imgs) => imgs.map((img) =>
    [img.getAttribute('src').replace(/\/api\/files\/.*/, 'file'), img.complete && img.naturalWidth > 0]))).toEqual(
    [['file', true], ...Array(4).fill(['/images/NoImage.png', true])]);
  await lookAt(page, testInfo, 'picker');

  // Each key narrows the list; a person still listed keeps the row drawn for him.
  await picker.locator('.people-row', { hasText: 'Bruno Romano' }).evaluate((el) => (el.dataset.kept = 'yes'));
  await picker.getByRole('searchbox').pressSequentially('ro', { delay: 50 });
  await expect(picker.locator('.people-name')).toHaveText(['Anna Rossi', 'Bruno Romano']);
  await expect(picker.locator('.people-row[data-kept]')).toHaveText(/Bruno Romano/);

  // One number: it is added at once, the picker stays until "back".
  await picker.locator('.people-row', { hasText: 'Bruno Romano' }).click();
  await expect(page.getByRole('dialog')).toHaveCount(0);
  await expect(titleOf(page)).toHaveText('Bruno Romano');
  await expect(page.locator(':focus-visible')).toHaveCount(0);  // the focus moved, its ring is for keyboard users
  await lookAt(page, testInfo, 'phones');
  await page.locator('.person-phone').first().click();
  await page.locator('.navbar [data-id="back"]').click();
  await expect(titleOf(page)).toHaveText(/^Vorx/);
  await expect.poll(() => newRows(page)).toEqual([['Bruno Romano', '+393471112233']]);

  // All of Anna's numbers, each under the name with its type, and the screen closes.
  picker = await openPicker(page);
  await picker.locator('.people-row', { hasText: 'Anna Rossi' }).click();
  await page.locator('.navbar').getByRole('button', { name: 'Add all' }).click();
  await expect(titleOf(page)).toHaveText(/^Vorx/);
  await expect.poll(async () => (await newRows(page)).sort()).toEqual(
    [['Anna Rossi/M', '+393331234567'], ['Anna Rossi/O', '0212345'], ['Bruno Romano', '+393471112233']]);
});

test('the unknown person\'s card goes into the book', async ({ page, start, book }, testInfo) => {
  const server = await start([[1, 'Beta Gamma Alpha', '+39021234', 0], [2, 'Carla', '+393490001111', 0]]);
  await page.setViewportSize({ width: 320, height: 480 });
  await openApp(page, server);
  await page.locator('.list-row', { hasText: 'Beta Gamma Alpha' }).click();
  await page.locator('.sheet').getByRole('button', { name: 'Add to address book' }).click();
  await expect(titleOf(page)).toHaveText('Unknown');
  await lookAt(page, testInfo, 'unknown');

  const before = fs.readFileSync(book, 'utf8');
  await page.getByRole('button', { name: 'Create New Contact' }).click();
  await expect(titleOf(page)).toHaveText(/^Vorx/);
  // The card itself is the address book tests' part.
  expect(fs.readFileSync(book, 'utf8')).toMatch(new RegExp(`^${before.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')}BEGIN:VCARD`));
});

test('with no book the picker opens a .vcf file from the browser, which becomes the book byte for byte', async ({ page, start, book }, testInfo) => {
  fs.rmSync(book);
  const server = await start([]);
  await openApp(page, server);
  const picker = await openPicker(page);
  await expect(picker.locator('.people-empty')).toContainText(`No address book: ${book}`);
  await lookAt(page, testInfo, 'nobook', false);
  // Several pieces, and bytes a browser's Latin-1 decoder would change (0x80-0x9F: "ò" is
  // C3 B2, "Ā" C4 80).
  const card = 'BEGIN:VCARD\r\nVERSION:3.0\r\nN:Bellè;Niccolò;;;\r\nFN:Niccolò Bellè\r\nTEL:+39 055 123\r\n' +
    `NOTE:${'Āx'.repeat(9000)}\r\nEND:VCARD\r\n`;
  const bytes = Buffer.concat([fs.readFileSync(kSample), Buffer.from(card)]);
  const chooser = page.waitForEvent('filechooser');
  await picker.getByRole('button', { name: 'Open a .vcf file' }).click();
  await (await chooser).setFiles({ name: 'mine.vcf', mimeType: 'text/vcard', buffer: bytes });
  await expect(picker.locator('.people-name')).toHaveText([...kPeople, 'Niccolò Bellè']);
  await expect(picker.getByRole('button', { name: 'Open a .vcf file' })).toBeHidden();
  expect(fs.readFileSync(book).equals(bytes)).toBe(true);
});

test('keyboard: Escape closes the picker, Tab reaches the search field and every row, Enter and Space pick', async ({ page, start }) => {
  const server = await start([[1, 'Zoe', '+3901', 0]]);
  await openApp(page, server);
  const add = page.locator('.toolbar [data-id="add"]');
  const focused = page.locator(':focus');
  const picker = page.getByRole('dialog', { name: 'Contacts' });
  // Enter on Add, then on the sheet's first button (From address book), which takes the focus.
  const openPicker = async () => {
    await page.keyboard.press('Enter');
    await expect(focused).toHaveAccessibleName('From address book');
    await page.keyboard.press('Enter');
    await expect(picker).toBeVisible();
  };
  await add.focus();
  await openPicker();
  await expect(focused).toHaveAccessibleName('Cancel');
  await page.keyboard.press('Escape');
  await expect(picker).toHaveCount(0);
  await expect(add).toBeFocused();

  await openPicker();
  // The search field's own Cancel appears once it has the focus.
  const stops = ['Search', 'Cancel', ...['2 numbers', '1 number', '3 numbers', '1 number', '0 numbers'].map((d, i) => `${kPeople[i]}, ${d}`)];
  for (const stop of stops) {
    await page.keyboard.press('Tab');
    await expect(focused).toHaveAccessibleName(stop);
    if (stop === 'Search') await expect(picker.locator('.searchbar').getByRole('button', { name: 'Cancel' })).toBeVisible();
  }
  await page.keyboard.press('Shift+Tab');
  await expect(focused).toHaveAccessibleName('Carla Verdi, 1 number');
  await page.keyboard.press('Enter');

  // The phone picker takes the focus on its first control; Tab reaches its number.
  await expect(titleOf(page)).toHaveText('Carla Verdi');
  await expect(focused).toHaveAccessibleName(/^Vorx/);
  expect(await focused.evaluate((el) => el.matches(':focus-visible'))).toBe(true);
  for (const stop of ['Add all', 'mobile, +39 349 000 1111']) {
    await page.keyboard.press('Tab');
    await expect(focused).toHaveAccessibleName(stop);
  }
  await page.keyboard.press(' ');
  await page.keyboard.press('Shift+Tab');
  await page.keyboard.press('Shift+Tab');
  await page.keyboard.press('Enter');
  await expect(titleOf(page)).toHaveText(/^Vorx/);
  await expect.poll(() => newRows(page)).toEqual([['Carla Verdi', '+393490001111']]);
});

// "Copy SIM to address book", the ninth of the tool sheet's commands: every command of the
// sheet whole and reachable (the sheet scrolls where the window is short) with Cancel in
// view; the command asks with the plan's counts, then copies what the book lacks. At each
// size by mouse, and on a phone's touch screen by taps.
const kCopySizes = [...kSizes.map(([width, height]) => ({ width, height })), { width: 360, height: 720, touch: true }];
for (const { width, height, touch } of kCopySizes) {
  const named = `${width}x${height}${touch ? ' touch' : ''}`;
  test.describe(() => {
    if (touch) test.use({ hasTouch: true, isMobile: true });
    test(`at ${named} the tool sheet copies the SIM into the book`, async ({ page, start, book }, testInfo) => {
      await page.setViewportSize({ width, height });
      // Anna's mobile is in the book already; Zoe is new.
      const server = await start([[1, 'Anna Rossi', '+393331234567', 0], [2, 'Zoe Bianchi', '+393401112233', 0]]);
      await openApp(page, server);
      const press = (locator) => (touch ? locator.tap() : locator.click());
      const inside = (b) => b && b.x >= 0 && b.y >= 0 && b.x + b.width <= width + 0.5 && b.y + b.height <= height + 0.5;
      const onTop = (b) => page.evaluate(([x, y]) => document.elementFromPoint(x, y)?.closest('.sheet-button')?.textContent,
        [b.x + b.width / 2, b.y + b.height / 2]);

      await press(page.locator('.toolbar [data-id="tool"]'));
      const buttons = page.locator('.sheet-button');
      await expect(buttons).toHaveText(['Delete all SIM entries', 'Import all contacts', 'Sort by position', 'Sort by name',
        'Export to file', 'Restore from file', 'Start debug log', 'Export to vCard', 'Copy SIM to address book', 'Cancel']);
      const cancel = page.locator('.sheet-cancel');
      for (const button of await buttons.all()) {
        const what = await button.textContent();
        expect(await button.evaluate((el) => el.scrollWidth <= el.clientWidth && el.scrollHeight <= el.clientHeight), `${what} cut off`).toBe(true);
        await button.scrollIntoViewIfNeeded();
        const b = await button.boundingBox();
        expect(inside(b), `${what} reachable`).toBe(true);
        expect(b.height, what).toBeGreaterThanOrEqual(44);
        expect(await onTop(b), what).toBe(what);
        expect(await onTop(await cancel.boundingBox()), `Cancel in view with ${what}`).toBe('Cancel');
      }
      const copy = buttons.filter({ hasText: 'Copy SIM to address book' });
      const shot = async (name) => {
        const file = testInfo.outputPath(`${name}-${named.replace(' ', '-')}.png`);
        await page.screenshot({ path: file });
        await testInfo.attach(`${name} ${named}`, { path: file, contentType: 'image/png' });
      };
      await shot('copy-sheet');

      await press(copy);
      const alert = page.getByRole('alertdialog');
      await expect(alert).toContainText('Copy SIM to address book');
      await expect(alert).toContainText('Copy 1 contact into the address book? 1 is there already.');
      for (const answer of await alert.locator('.alert-button').all()) expect(inside(await answer.boundingBox())).toBe(true);
      await shot('copy-confirm');
      await press(alert.getByRole('button', { name: 'Copy' }));
      await expect(page.locator('.notice-text')).toHaveText('Added 1 contact to the address book; 1 was there already');
      await shot('copy-done');
      const cards = fs.readFileSync(book, 'utf8');
      expect(cards.match(/^FN:Zoe Bianchi\r?$/gm)).toHaveLength(1);
      expect(cards.match(/^FN:Anna Rossi\r?$/gm)).toHaveLength(1);
    });
  });
}
