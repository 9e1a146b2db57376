// The setup screen: its grouped table's check mark follows the tapped row, Done and Back
// both store the name order in the preferences file; by mouse and by keyboard; axe
// finds nothing serious; how it looks at three sizes. The address book chosen there is
// the one the people picker reads next.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test, expect, openApp, lookAt, kSizes, seriousViolations } from './voryx.mjs';

// axe is injected as an inline script, which the page's policy refuses.
test.use({ bypassCSP: true });


const storedPreference = (server, key) => {
  const file = path.join(server.home, 'config', 'preferences.json');
  return fs.existsSync(file) ? JSON.parse(fs.readFileSync(file, 'utf8'))[key] : undefined;
};
const storedLastFirst = (server) => storedPreference(server, 'lastFirst');

test('setup: the check mark follows the tapped row, Done and Back store it; keyboard, axe, three sizes', async ({ page, serve }, testInfo) => {
  const server = await serve({ phonebook: [[1, 'Anna', '+3901', 0]] }, {}, ['--simulate']);
  await page.setViewportSize({ width: 320, height: 480 });
  await openApp(page, server);
  const title = page.locator('.navbar .title');
  const mainTitle = await title.textContent();
  const group = page.getByRole('radiogroup', { name: 'SIM name format' });
  const first = group.getByRole('radio', { name: 'Firstname/Lastname' });
  const second = group.getByRole('radio', { name: 'Lastname/Firstname' });

  await page.locator('.navbar [data-id="setup"]').click();
  await expect(title).toHaveText('Setup');
  await expect(first).toHaveAttribute('aria-checked', 'true');
  await expect(second).toHaveAttribute('aria-checked', 'false');
  await expect(group.locator('.sections-choice[aria-checked="true"] .sections-check')).toHaveCount(1);

  // Grouped table geometry: 50 px rows, titles fitting their rows, the check mark inside the row.
  await lookAt(page, testInfo, 'setup', async (width, height) => {
    const rows = await group.locator('.sections-choice').evaluateAll((els) => els.map((el) => {
      const r = el.getBoundingClientRect();
      const t = el.querySelector('.sections-title');
      const c = el.querySelector('.sections-check').getBoundingClientRect();
      return { h: r.height, fits: t.scrollWidth <= t.clientWidth, checkInside: c.right <= r.right && c.left >= r.left };
    }));
    expect(rows, `${width}x${height}`).toEqual([{ h: 50, fits: true, checkInside: true }, { h: 50, fits: true, checkInside: true }]);
  });

  await second.click();
  await expect(second).toHaveAttribute('aria-checked', 'true');
  await expect(first).toHaveAttribute('aria-checked', 'false');
  await page.locator('.navbar [data-id="done"]').click();
  await expect(title).toHaveText(mainTitle);
  await expect.poll(() => storedLastFirst(server)).toBe(1);

  // By keyboard: Tab reaches the rows, Space taps one; the back button keeps it too.
  await page.locator('.navbar [data-id="setup"]').click();
  await expect(second).toHaveAttribute('aria-checked', 'true');
  await first.focus();
  await expect(first).toBeFocused();
  await page.keyboard.press('Tab');
  await expect(second).toBeFocused();
  await page.keyboard.press('Shift+Tab');
  await page.keyboard.press('Space');
  await expect(first).toHaveAttribute('aria-checked', 'true');
  await page.locator('.navbar [data-id="back"]').click();
  await expect(title).toHaveText(mainTitle);
  await expect.poll(() => storedLastFirst(server)).toBe(0);

  // Done by keyboard (Enter) stores the choice of the rows' Enter.
  await page.locator('.navbar [data-id="setup"]').click();
  await second.focus();
  await page.keyboard.press('Enter');
  await expect(second).toHaveAttribute('aria-checked', 'true');
  await page.locator('.navbar [data-id="done"]').focus();
  await page.keyboard.press('Enter');
  await expect(title).toHaveText(mainTitle);
  await expect.poll(() => storedLastFirst(server)).toBe(1);
});

// Each switch of the Modem group, reached by Tab from the row before it.
const kSwitches = [
  { name: 'Use UCS2 character set', key: 'ucs2', before: (page) => page.getByRole('radio', { name: 'Lastname/Firstname' }) },
  { name: 'Fast transfers', key: 'fast', before: (page) => page.getByRole('switch', { name: 'Use UCS2 character set' }) },
  { name: "Read the SIM's files directly", key: 'records', before: (page) => page.getByRole('switch', { name: 'Fast transfers' }) },
];

for (const { name, key, before } of kSwitches) {
  test(`setup: "${name}" flips by mouse and by keyboard; Done and Back store it`, async ({ page, serve }, testInfo) => {
    const server = await serve({ phonebook: [[1, 'Anna', '+3901', 0]] }, {}, ['--simulate']);
    await page.setViewportSize({ width: 320, height: 480 });
    await openApp(page, server);
    const title = page.locator('.navbar .title');
    const mainTitle = await title.textContent();
    const flag = page.getByRole('group', { name: 'Modem' }).getByRole('switch', { name });

    // By mouse; the back button keeps it.
    await page.locator('.navbar [data-id="setup"]').click();
    await expect(flag).toHaveAttribute('aria-checked', 'false');
    await flag.click();
    await expect(flag).toHaveAttribute('aria-checked', 'true');
    await flag.click();
    await expect(flag).toHaveAttribute('aria-checked', 'false');
    await flag.click();
    await expect(flag).toHaveAttribute('aria-checked', 'true');
    await page.locator('.navbar [data-id="back"]').click();
    await expect(title).toHaveText(mainTitle);
    await expect.poll(() => storedPreference(server, key)).toBe(1);

    // By keyboard: Tab from the row before reaches it, Space flips it, the focus stays;
    // Done stores it.
    await page.locator('.navbar [data-id="setup"]').click();
    await expect(flag).toHaveAttribute('aria-checked', 'true');
    await before(page).focus();
    await page.keyboard.press('Tab');
    await expect(flag).toBeFocused();
    await page.keyboard.press('Space');
    await expect(flag).toHaveAttribute('aria-checked', 'false');
    await expect(flag).toBeFocused();
    await lookAt(page, testInfo, `setup-${key}`, async (width) => {
      await flag.scrollIntoViewIfNeeded();
      const box = await flag.boundingBox();
      expect(box.height).toBe(50);
      expect(box.x + box.width).toBeLessThanOrEqual(width);
    });
    await page.locator('.navbar [data-id="done"]').click();
    await expect(title).toHaveText(mainTitle);
    await expect.poll(() => storedPreference(server, key)).toBe(0);
    await page.locator('.navbar [data-id="setup"]').click();
    await expect(flag).toHaveAttribute('aria-checked', 'false');
  });
}

// The Phonebook group: the SIM phonebook until a read found the modem's stores, then each
// of them, by mouse and by keyboard. What a store's list allows is the screen tests' part.
test('setup: the phonebook store shown, chosen by mouse and by keyboard; the main screen names it; three sizes', async ({ page, serve }, testInfo) => {
  const server = await serve(undefined, {}, ['--simulate']);
  await page.setViewportSize({ width: 320, height: 480 });
  await openApp(page, server);
  const title = page.locator('.navbar .title');
  const books = page.getByRole('radiogroup', { name: 'Phonebook' });
  const read = async () => {
    await page.locator('.toolbar [data-id="leggi"]').click();
    await expect(page.locator('.overlay')).toHaveCount(0, { timeout: 30_000 });
  };

  await page.locator('.navbar [data-id="setup"]').click();
  await expect(books.getByRole('radio')).toHaveText(['SIM phonebook (SM)']);
  await page.locator('.navbar [data-id="back"]').click();
  await read();
  await expect(title).toHaveText('Vorx (36/250)');

  await page.locator('.navbar [data-id="setup"]').click();
  await expect(books.getByRole('radio')).toHaveText(['SIM phonebook (SM)', 'Own numbers (ON)', 'Fixed dialling (FD)',
    'Phone memory (ME)', 'Emergency numbers (EN)', 'Service numbers (SDN)']);
  await expect(books.getByRole('radio', { name: 'SIM phonebook (SM)' })).toHaveAttribute('aria-checked', 'true');
  const fixed = books.getByRole('radio', { name: 'Fixed dialling (FD)' });
  await fixed.click();
  await expect(fixed).toHaveAttribute('aria-checked', 'true');
  await page.locator('.navbar [data-id="done"]').click();
  await read();
  await expect(title).toHaveText('Vorx FD (2/10)');
  await lookAt(page, testInfo, 'store-main', undefined, { axe: false });

  // By keyboard: the emergency numbers, read only, with neither an add button nor edits.
  await page.setViewportSize({ width: 480, height: 320 });
  await page.locator('.navbar [data-id="setup"]').click();
  const emergency = books.getByRole('radio', { name: 'Emergency numbers (EN)' });
  await emergency.focus();
  await page.keyboard.press('Space');
  await expect(emergency).toHaveAttribute('aria-checked', 'true');
  await lookAt(page, testInfo, 'store-setup', undefined, { fullPage: true });
  await page.locator('.navbar [data-id="done"]').focus();
  await page.keyboard.press('Enter');
  await read();
  await expect(title).toHaveText('Vorx EN (2/5)');
});

// The Address book group: the vCard file of the data folder, and the book --contacts
// names, ticked while in use (the desktop's books, where one runs, are the screen tests'
// part). Chosen by mouse and left by Done, or by keyboard and left by Back, at each size:
// the choice is stored and the people picker reads the chosen book at once.
for (const [width, height] of kSizes) {
  for (const how of ['mouse', 'keyboard']) {
    test(`setup: the address book chosen by ${how} at ${width}x${height} is the picker's at once`, async ({ page, serve }, testInfo) => {
      const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'voryx-books-'));
      try {
        // A path longer than a phone's row: its end shows.
        const other = path.join(dir, 'the address books kept in step with the phone', 'other.vcf');
        fs.mkdirSync(path.dirname(other));
        fs.writeFileSync(other, 'BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Bruno Romano\r\nTEL:+3902\r\nEND:VCARD\r\n');
        const server = await serve({ phonebook: [[1, 'Anna', '+3901', 0]] }, {}, ['--simulate', '--contacts', other]);
        const file = path.join(server.home, 'data', 'contacts.vcf');
        fs.writeFileSync(file, 'BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna Rossi\r\nTEL:+3901\r\nEND:VCARD\r\n');
        await page.setViewportSize({ width, height });
        await openApp(page, server);
        const title = page.locator('.navbar .title');
        const mainTitle = await title.textContent();
        const books = page.getByRole('radiogroup', { name: 'Address book' });
        const rows = books.getByRole('radio', { name: 'vCard file', exact: true });
        // The people picker shows `names`, and is closed again.
        const picks = async (names) => {
          await page.locator('.toolbar [data-id="add"]').click();
          await page.locator('.sheet').getByRole('button', { name: 'From address book' }).click();
          const picker = page.getByRole('dialog', { name: 'Contacts' });
          await expect(picker.locator('.people-name')).toHaveText(names);
          await picker.getByRole('button', { name: 'Cancel' }).click();
          await expect(picker).toHaveCount(0);
        };
        await picks(['Bruno Romano']);

        await page.locator('.navbar [data-id="setup"]').click();
        await expect(title).toHaveText('Setup');
        await expect(rows).toHaveCount(2);
        const [vcard, given] = [rows.nth(0), rows.nth(1)];
        await expect(vcard).toHaveAccessibleDescription(file);
        await expect(given).toHaveAccessibleDescription(other);
        await expect(given).toHaveAttribute('aria-checked', 'true');
        await expect(vcard).toHaveAttribute('aria-checked', 'false');
        if (how === 'mouse' && width === 320) expect(await seriousViolations(page)).toEqual([]);

        // Each row: 50 px high, its title and its path whole (or the path's end) beside
        // the check mark, never under it.
        await given.scrollIntoViewIfNeeded();
        const geometry = await rows.evaluateAll((els) => els.map((el) => {
          const r = el.getBoundingClientRect();
          const t = el.querySelector('.sections-title');
          const d = el.querySelector('.sections-detail');
          const db = d.getBoundingClientRect();
          const c = el.querySelector('.sections-check').getBoundingClientRect();
          return {
            h: r.height,
            fits: t.scrollWidth <= t.clientWidth && d.scrollWidth <= d.clientWidth,
            inside: db.bottom <= r.bottom && db.right <= c.left + 0.5 && c.right <= r.right,
            end: d.textContent.endsWith('.vcf'),
          };
        }));
        expect(geometry).toEqual(Array(2).fill({ h: 50, fits: true, inside: true, end: true }));
        const shot = testInfo.outputPath(`setup-books-${how}-${width}x${height}.png`);
        await page.screenshot({ path: shot });
        await testInfo.attach(`address books ${how} ${width}x${height}`, { path: shot, contentType: 'image/png' });

        if (how === 'mouse') {
          await vcard.click();
          await expect(vcard).toHaveAttribute('aria-checked', 'true');
          await expect(given).toHaveAttribute('aria-checked', 'false');
          await page.locator('.navbar [data-id="done"]').click();
        } else {
          // Tab from the phonebook store reaches the first book, Space ticks it; Enter on Back.
          await page.getByRole('radio', { name: 'SIM phonebook (SM)' }).focus();
          await page.keyboard.press('Tab');
          await expect(vcard).toBeFocused();
          await page.keyboard.press('Space');
          await expect(vcard).toHaveAttribute('aria-checked', 'true');
          await expect(vcard).toBeFocused();
          await page.locator('.navbar [data-id="back"]').focus();
          await page.keyboard.press('Enter');
        }
        await expect(title).toHaveText(mainTitle);
        await expect.poll(() => storedPreference(server, 'contacts')).toBe(file);
        await picks(['Anna Rossi']);
        // The book --contacts named, now neither in use nor the data folder's, is no row.
        await page.locator('.navbar [data-id="setup"]').click();
        await expect(rows).toHaveCount(1);
        await expect(rows).toHaveAttribute('aria-checked', 'true');
      } finally {
        fs.rmSync(dir, { recursive: true, force: true });
      }
    });
  }
}
