// The edit screen, opened from a row's sheet: it comes with a page curl (none under reduced
// motion) and goes with one; what the user types reaches the application whole while other
// snapshots arrive; Return, the clear button and Escape; and how it looks at three sizes.
import { test, expect, openApp, lookAt } from './voryx.mjs';


// Counts the page curls that start from now on: each adds its flap to #screen.
async function watchCurls(page) {
  await page.evaluate(() => {
    window.curls = 0;
    new MutationObserver((records) => {
      for (const r of records) window.curls += [...r.addedNodes].filter((n) => n.classList?.contains('curlflap')).length;
    }).observe(document.getElementById('screen'), { childList: true });
  });
  return () => page.evaluate(() => window.curls);
}

const screenState = (page) => page.evaluate(async () => (await fetch('/api/state')).json());
const textOf = (state, id) => state.modal?.controls.find((c) => c.id === id)?.text;

// An event the page's input did not make (as another tab would send it), against the
// state as it is then.
function post(page, target, action, value) {
  return page.evaluate(async (event) => {
    for (;;) {
      const { version } = await (await fetch('/api/state')).json();
      const res = await fetch('/api/event', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ version, ...event }) });
      if (res.status !== 409) return res.status;
    }
  }, { target, action, value });
}

async function openEditor(page, store, rowName) {
  if (store === 'sms') await page.getByRole('button', { name: 'SMS' }).click();
  const row = page.locator('.row', { hasText: rowName });
  await row.click();
  await page.locator('.sheet').getByRole('button', { name: 'Edit entry' }).click();
  await expect(page.getByRole('dialog', { name: 'edit value' })).toBeVisible();
  return row;
}

const kStores = [
  { store: 'sms', rows: [[1, 'Ciao', '+39021234', 0]], row: 'Ciao', field: 'textview', typed: 'Ci vediamo alle otto\ndavanti al cinema: porta i biglietti! 12' },
  { store: 'phonebook', rows: [[1, 'Anna', '+39021234', 0], [2, 'Bruno', '+3902', 0]], row: 'Anna', field: 'text1', typed: 'Anna Bellini' },
];

for (const c of kStores) {
  test(`${c.store}: the page curls, typing loses nothing while snapshots arrive, Save stores it; three window sizes`, async ({ page, serve }, testInfo) => {
    const server = await serve({ [c.store]: c.rows }, {}, ['--simulate']);
    await page.setViewportSize({ width: 320, height: 480 });
    await openApp(page, server);
    const curls = await watchCurls(page);
    await openEditor(page, c.store, c.row);
    const field = page.locator(`[data-id="${c.field}"]`);
    await expect(field).toBeFocused();
    expect(await curls()).toBe(1);

    // Typed key by key while the number changes from outside: the number field shows each
    // change, the field being typed in keeps every key (a text view's Enter is a new line).
    await field.press('Control+A');
    const numbers = (async () => {
      for (let i = 1; i <= 8; i++) {
        expect(await post(page, 'text2', 'change', `+3902${i}`)).toBe(200);
        await page.waitForTimeout(40);
      }
    })();
    await field.pressSequentially(c.typed, { delay: 20 });
    await numbers;
    await expect(page.locator('[data-id="text2"]')).toHaveValue('+39028');
    await expect(field).toHaveValue(c.typed);
    await expect.poll(async () => textOf(await screenState(page), c.field)).toBe(c.typed);

    await lookAt(page, testInfo, `edit-${c.store}`, async (width, height) => {
      for (const control of await page.locator('.controlbox > *').all()) {
        await control.scrollIntoViewIfNeeded();
        const box = await control.boundingBox();
        expect(box.x >= 0 && box.y >= 0 && box.x + box.width <= width && box.y + box.height <= height, `${width}x${height}`).toBe(true);
      }
      const fontPx = await page.locator('.controlbox :is(input, textarea)').evaluateAll((fields) => fields.map((f) =>
        parseFloat(getComputedStyle(f).fontSize) * (f.getBoundingClientRect().width / f.offsetWidth)));
      expect(Math.min(...fontPx), `${width}x${height}`).toBeGreaterThanOrEqual(14);
    }, { axe: false });

    await page.getByRole('button', { name: 'Save' }).click();
    await expect(page.getByRole('dialog', { name: 'edit value' })).toHaveCount(0);
    expect(await curls()).toBe(2);
    const saved = page.locator('.row .name').first();
    await expect.poll(() => saved.textContent()).toBe(c.typed);
  });
}

test('keyboard: Tab order, Return leaves the name, the clear button, Escape cancels; no curl under reduced motion', async ({ page, serve }) => {
  await page.emulateMedia({ reducedMotion: 'reduce' });
  const server = await serve({ phonebook: [[1, 'Anna', '+39021234', 0]] }, {}, ['--simulate']);
  await openApp(page, server);
  const sent = [];
  page.on('request', (r) => r.url().endsWith('/api/event') && sent.push(r.postDataJSON()));
  const curls = await watchCurls(page);
  const row = await openEditor(page, 'phonebook', 'Anna');
  const name = page.getByRole('textbox', { name: 'Name' });
  await expect(name).toBeFocused();

  const focused = page.locator(':focus');
  for (const stop of ['Number', 'Cancel', 'Save']) {
    await page.keyboard.press('Tab');
    await expect(focused).toHaveAccessibleName(stop);
  }

  // Return: the screen takes the focus from the name field.
  await name.focus();
  await name.press('Enter');
  await expect(name).not.toBeFocused();
  await expect.poll(async () => (await screenState(page)).modal.controls.find((ctl) => ctl.id === 'text1').focus.on).toBe(false);

  // The clear button empties the field and leaves it in editing; Return then does nothing.
  await name.click();
  await page.getByRole('button', { name: 'Clear text' }).click();
  await expect(name).toHaveValue('');
  await expect(name).toBeFocused();
  await expect.poll(async () => textOf(await screenState(page), 'text1')).toBe('');
  await name.press('Enter');
  await name.pressSequentially('Zed');
  await expect.poll(async () => textOf(await screenState(page), 'text1')).toBe('Zed');
  expect(sent.filter((e) => e.action === 'return')).toHaveLength(1);

  // Escape taps Cancel: nothing is stored, the focus is back on the row.
  await page.keyboard.press('Escape');
  await expect(page.getByRole('dialog', { name: 'edit value' })).toHaveCount(0);
  await expect(row).toBeFocused();
  await expect(page.locator('.row .name').first()).toHaveText('Anna');
  expect(await curls()).toBe(0);
});
