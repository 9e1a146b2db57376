// The main screen as the browser draws it: row colours and what a screen reader reads of
// the rows, double-tap scrolling, modal alerts, the empty list. What the search and the
// store selector leave on the list is the screen tests' part.
import { test, expect, openApp, lookAt } from './voryx.mjs';

// The row backgrounds, top to bottom, in 0..1 per channel.
const kGradients = {
  gray: [[0.35, 0.35, 0.35], [0.55, 0.55, 0.55], [0.55, 0.55, 0.55], [0.35, 0.35, 0.35]],
  green: [[0, 0.3, 0], [0, 0.8, 0], [0, 0.3, 0]],
  red: [[0.3, 0, 0], [0.8, 0, 0], [0.3, 0, 0]],
  cyan: [[0, 0.3, 0.3], [0, 0.8, 0.5], [0, 0.3, 0.3]],
};

test('rows in the colours of their change marks, read out with the mark in words', async ({ page, serve }) => {
  const server = await serve({
    phonebook: [[1, 'Anna Bianchi', '+390212345678', 0], [2, 'Bruno Rossi', '+393331234567', 1],
      [3, 'Carla Verdi', '+390698765432', 3], [4, 'A rather long name that must shrink', '+41791234567', 2],
      [5, 'Elena', '112', 0]],
  });
  await openApp(page, server);
  await expect(page).toHaveURL(`${server.origin}/`);  // the token is not left in the address bar
  const rows = page.locator('.list-row');
  await expect(rows.nth(1).locator('.list-location, .list-name, .list-number')).toHaveText(['2', 'Bruno Rossi', '+393331234567']);
  const marks = [['gray', '1, Anna Bianchi, +390212345678'], ['green', '2, Bruno Rossi, +393331234567, new'],
    ['cyan', '3, Carla Verdi, +390698765432, changed'],
    ['red', '4, A rather long name that must shrink, +41791234567, deleted'], ['gray', '5, Elena, 112']];
  for (const [i, [set, spoken]] of marks.entries()) {
    await expect(rows.nth(i)).toHaveAccessibleName(spoken);
    const css = await rows.nth(i).evaluate((el) => getComputedStyle(el).backgroundImage);
    const got = [...css.matchAll(/rgba?\(([\d.]+),\s*([\d.]+),\s*([\d.]+)/g)].map((m) => m.slice(1, 4).map(Number));
    const want = kGradients[set].map((c) => c.map((v) => v * 255));
    expect(got.length, `row ${i + 1}`).toBe(want.length);
    got.forEach((c, k) => c.forEach((v, ch) => expect(Math.abs(v - want[k][ch]), `row ${i + 1} stop ${k}`).toBeLessThanOrEqual(1)));
  }
});

test('a message in parts is one row, its text inside the screen at every size', async ({ page, serve }, testInfo) => {
  const server = await serve({
    sms: [[1, 'and this is the second part of it, which runs on.', '+3909', 0], [2, 'Hello, a long message ', '+3909', 0],
      [3, 'Alone', '+3908', 0]],
    parts: [[1, 7, 3, 2], [2, 7, 3, 1]],
  });
  await openApp(page, server);
  await page.locator('.segment').nth(1).click();
  const rows = page.locator('.list-row');
  await expect(rows).toHaveCount(2);
  const whole = 'Hello, a long message and this is the second part of it, which runs on.[part 3 of 3 missing] (3 parts)';
  await expect(rows.nth(0)).toHaveAccessibleName(`1, ${whole}, +3909`);
  // At the list's size, the text cut before the count of parts, which shows whole.
  const name = rows.nth(0).locator('.list-name');
  await lookAt(page, testInfo, 'sms-parts', async (width, height) => {
    const size = `${width}x${height}`;
    const [row, cell, remark] = await Promise.all([rows.nth(0), name, name.locator('.list-remark')].map((l) => l.boundingBox()));
    expect(await name.locator('.list-remark').textContent()).toBe(' (3 parts)');
    expect(remark.x + remark.width, size).toBeLessThanOrEqual(cell.x + cell.width + 0.5);
    expect(cell.x + cell.width, size).toBeLessThanOrEqual(row.x + row.width + 1);
    expect(row.x + row.width, size).toBeLessThanOrEqual(width + 1);
    expect(await name.evaluate((el) => getComputedStyle(el).fontSize), size).toBe('18px');
    expect(await name.locator('.list-text').evaluate((el) => el.scrollWidth > el.clientWidth), `${size} cut`).toBe(true);
  }, { axe: false });
});

test('a double tap in the left band brings the first row to the top', async ({ page, serve }) => {
  const server = await serve({ phonebook: Array.from({ length: 20 }, (_, i) => [i + 1, `Contact ${i + 1}`, '+3902', 0]) });
  await openApp(page, server);
  await expect(page.locator('.list-row')).toHaveCount(20);
  const list = page.locator('.list');
  await list.evaluate((el) => { el.scrollTop = el.scrollHeight; });
  expect(await list.evaluate((el) => el.scrollTop)).toBeGreaterThan(0);
  // On the banner: inside the window's list view, and its first tap opens nothing.
  const frame = await page.locator('#frame').boundingBox();
  await page.mouse.dblclick(frame.x + 60, frame.y + 70);
  await expect.poll(() => list.evaluate((el) => el.scrollTop)).toBe(0);
});

test('start-up alerts cover the screen until closed', async ({ page, serve }) => {
  // No shipped database to copy: the copy fails, then so does the first list load.
  const server = await serve(undefined, { VORYX_RESOURCES: '/nonexistent-voryx-resources' });
  await openApp(page, server);
  const alerts = page.locator('.alert');
  await expect(alerts).toHaveCount(2);
  await expect(alerts.first().locator('.alert-message')).toContainText('Failed to create writable database file');
  const sms = await page.locator('.segment').nth(1).boundingBox();
  await page.mouse.click(sms.x + 10, sms.y + 10);  // covered by the alerts: nothing happens
  await expect(page.locator('.segment').nth(0)).toHaveClass(/selected/);
  for (const left of [1, 0]) {
    await alerts.last().locator('.alert-button').last().click();
    await expect(alerts).toHaveCount(left);
  }
  await page.locator('.segment').nth(1).click();
  await expect(page.locator('.segment').nth(1)).toHaveClass(/selected/);
});

test('an empty list says why, in the middle of the list area', async ({ page, serve }) => {
  const server = await serve({ phonebook: [[1, 'Anna', '+3901', 0]] });
  await openApp(page, server);
  const empty = page.locator('.list-empty');
  await expect(empty).toBeHidden();
  const kEmptyLists = [
    { name: 'nothing matches', act: () => page.locator('.searchbar input').fill('zzz').then(() => page.keyboard.press('Enter')),
      says: /\u201Czzz\u201D/ },
    { name: 'an empty store', act: () => page.locator('.segment').nth(1).click(), says: /^No messages/ },
  ];
  for (const { name, act, says } of kEmptyLists) {
    await act();
    await expect(empty, name).toHaveText(says);
    const [box, list] = [await empty.boundingBox(), await page.locator('.list-area').boundingBox()];
    expect(Math.abs(box.y + box.height / 2 - (list.y + list.height / 2)), name).toBeLessThanOrEqual(2);
  }
});

// What a command did is said in a polite status region, over nothing the user needs: a
// row just added is scrolled into view, ringed for a moment, and not under the notice.
// The notice goes by itself.
test('a new entry: scrolled into view and ringed, the notice read out and gone by itself', async ({ page, serve }) => {
  await page.setViewportSize({ width: 320, height: 480 });
  const server = await serve({ phonebook: Array.from({ length: 12 }, (_, i) => [i + 1, `Contact ${i + 1}`, `+390200${i}`, 0]) });
  await openApp(page, server);
  await page.locator('.toolbar [data-id="add"]').click();
  await page.locator('.sheet-button', { hasText: 'New entry' }).click();
  await page.getByRole('textbox', { name: 'Name', exact: true }).fill('Dr. Weber Praxis Berlin');
  await page.getByRole('textbox', { name: 'Number', exact: true }).fill('+4930123456');
  await page.getByRole('button', { name: 'Save' }).click();

  const notice = page.locator('.notice-region');
  await expect(notice).toHaveAttribute('role', 'status');
  await expect(notice).toHaveAttribute('aria-live', 'polite');
  await expect(notice).toHaveText("Name shortened to 'Dr. Weber Prax' (the SIM keeps 14 letters)");
  const row = page.locator('.list-row', { hasText: 'Dr. Weber Prax' });
  await expect(row).toHaveClass(/list-fresh/);
  await expect(row).toBeInViewport({ ratio: 1 });
  const [r, n] = [await row.boundingBox(), await notice.locator('.notice-text').boundingBox()];
  expect(r.y >= n.y + n.height || r.y + r.height <= n.y, 'the notice leaves the new row free').toBe(true);
  await expect(notice).toHaveText('', { timeout: 15_000 });
  await expect(row).not.toHaveClass(/list-fresh/);
});
