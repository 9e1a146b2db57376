// The edit screen, opened from a row's sheet: it comes with a page curl (none under reduced
// motion) and goes with one; what the user types reaches the application whole while other
// snapshots arrive; Return, the clear button and Escape; and how it looks at three sizes.
// Then every screen with text fields, in two tabs at once: a click on an empty field takes
// the keys typed next, and each tab shows what the other types.
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
  const row = page.locator('.list-row', { hasText: rowName });
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
    const saved = page.locator('.list-row .list-name').first();
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
  await expect(page.locator('.list-row .list-name').first()).toHaveText('Anna');
  expect(await curls()).toBe(0);
});

// --- Every screen with text fields, in two tabs ----------------------------------------

// The application's text of the field with this id, wherever the snapshot has it.
function serverText(state, id) {
  const walk = (v) => {
    if (!v || typeof v !== 'object') return undefined;
    if (v.id === id && typeof v.text === 'string') return v.text;
    for (const child of Object.values(v)) {
      const found = walk(child);
      if (found !== undefined) return found;
    }
    return undefined;
  };
  return walk(state);
}

// A click where a user clicks: the middle of what shows of the field.
async function clickInto(page, field) {
  await field.scrollIntoViewIfNeeded();
  const b = await field.boundingBox();
  await page.mouse.click(b.x + b.width / 2, b.y + Math.min(b.height / 2, 15));
}

async function addNew(page, store) {
  if (store === 'sms') await page.getByRole('button', { name: 'SMS' }).click();
  await page.locator('.toolbar [data-id="add"]').click();
  await page.locator('.sheet').getByRole('button', { name: /^New (entry|message)$/ }).click();
  await expect(page.getByRole('dialog', { name: 'edit value' })).toBeVisible();
}

async function openComposer(page) {
  const tool = async (name) => {
    await page.locator('.toolbar [data-id="tool"]').click();
    await page.locator('.sheet').getByRole('button', { name }).click();
  };
  await tool('Start debug log');
  await page.locator('.toolbar [data-id="leggi"]').click();
  await expect(page.locator('.navbar .title')).toHaveText('Vorx (36/250)', { timeout: 30_000 });
  await expect(page.locator('.overlay')).toHaveCount(0);
  await tool('Send debug log to support');
  await expect(page.getByRole('dialog', { name: 'Voryx support (v0.1)' })).toBeVisible();
}

const kThree = [[1, 'Anna', '+3901', 0], [2, 'Bruno', '+3902', 0], [3, 'Carla', '+3903', 0]];
// Each field by its role and name, what tab A types into it, what tab B types over it, and
// what A types after that (at its caret, which B's text left at the end); `empty` how the
// field is emptied first ('clear': its × button; 'keys': select all, Delete).
const kTextScreens = [
  { name: 'a new entry', rows: { phonebook: kThree }, open: (page) => addNew(page, 'phonebook'),
    fields: [{ name: 'Name', a: 'Alpha', b: 'Bravo', more: ' Two' }, { name: 'Number', a: '+3911', b: '+3922', more: '3' }] },
  { name: 'a new message', rows: { sms: [[1, 'Ciao', '+3901', 0]] }, open: (page) => addNew(page, 'sms'),
    fields: [{ name: 'Message', a: 'See you\nat eight', b: 'Bravo', more: '!' }, { name: 'Number', a: '+3911', b: '+3922', more: '3' }] },
  { name: 'an entry, its fields cleared with ×', rows: { phonebook: kThree }, open: (page) => openEditor(page, 'phonebook', 'Anna'),
    fields: [{ name: 'Name', empty: 'clear', a: 'Alpha', b: 'Bravo', more: ' Two' },
      { name: 'Number', empty: 'clear', a: '+3911', b: '+3922', more: '3' }],
    saved: ['Bravo Two', '+39223'] },
  { name: 'the support mail', env: { DISPLAY: '', WAYLAND_DISPLAY: '' }, open: openComposer,
    fields: [{ name: 'To:', empty: 'keys', a: 'anna@example.org', b: 'bruno@example.org', more: 'x' },
      { name: 'Subject:', empty: 'keys', a: 'Alpha', b: 'Bravo', more: ' Two' },
      { name: 'Message', empty: 'keys', a: 'Alpha\nbeta', b: 'Bravo', more: '!' }] },
  { name: 'the search', rows: { phonebook: kThree }, open: async () => {}, search: true,
    fields: [{ name: 'Search', role: 'searchbox', a: 'An', b: 'Br', more: 'u' }] },
];

for (const screen of kTextScreens) {
  test(`two tabs, ${screen.name}: every empty field takes a click, each tab shows what the other types`, async ({ page, serve, browser }) => {
    const server = await serve(screen.rows, screen.env ?? {}, ['--simulate']);
    const other = await browser.newContext({ viewport: { width: 320, height: 480 } });
    try {
      const tabs = [page, await other.newPage()];
      for (const tab of tabs) await openApp(tab, server);
      const [a, b] = tabs;
      await screen.open(a);
      // A screen that is still coming in takes no taps.
      for (const tab of tabs) await expect(tab.locator('.screen-host.transitioning')).toHaveCount(0);
      for (const f of screen.fields) {
        const [fa, fb] = tabs.map((tab) => tab.getByRole(f.role ?? 'textbox', { name: f.name, exact: true }));
        await expect(fb).toBeVisible();  // the other tab shows the same screen
        if (f.empty) {
          await clickInto(a, fa);
          if (f.empty === 'clear') await a.getByRole('button', { name: 'Clear text' }).click();
          else await a.keyboard.press('Control+A').then(() => a.keyboard.press('Delete'));
          await expect(fa).toHaveValue('');
          await expect(fa).toBeFocused();
        }
        await expect(fa).toHaveValue('');
        await fa.evaluate((el) => el.blur());
        await clickInto(a, fa);
        await expect(fa, `${f.name} takes the click`).toBeFocused();
        await a.keyboard.type(f.a);
        await expect(fa).toHaveValue(f.a);
        await expect(fb, `${f.name} in the other tab`).toHaveValue(f.a);

        await clickInto(b, fb);
        await b.keyboard.press('Control+A');
        await b.keyboard.type(f.b, { delay: 15 });
        await expect(fb).toHaveValue(f.b);  // the tab being typed in keeps its caret
        await expect(fa).toHaveValue(f.b);
        await expect(fa).toBeFocused();
        await a.keyboard.type(f.more);
        const whole = f.b + f.more;
        for (const field of [fa, fb]) await expect(field).toHaveValue(whole);
        const id = await fa.getAttribute('data-id');
        await expect.poll(async () => serverText(await screenState(a), id)).toBe(whole);
      }

      if (screen.saved) {
        // Save in the first tab stores what both show.
        await a.getByRole('button', { name: 'Save' }).click();
        for (const tab of tabs) {
          await expect(tab.getByRole('dialog', { name: 'edit value' })).toHaveCount(0);
          await expect(tab.locator('.list-row', { hasText: screen.saved[0] }).locator('.list-name, .list-number'))
            .toHaveText(screen.saved);
        }
      }
      if (!screen.search) return;

      // The search: Enter applies the text; the field's ×, or its text deleted, brings the
      // whole list back, as Cancel does.
      const [input, inputB] = tabs.map((tab) => tab.getByRole('searchbox', { name: 'Search' }));
      const names = (tab) => tab.locator('.list-row .list-name');
      const search = async (text) => {
        await clickInto(a, input);
        await a.keyboard.press('Control+A');
        await a.keyboard.type(text);
        await a.keyboard.press('Enter');
      };
      await expect(input).toHaveValue('Bru');
      await input.press('Enter');
      for (const tab of tabs) await expect(names(tab)).toHaveText(['Bruno']);

      await clickInto(a, input);
      const cross = await input.evaluate((el) => {
        const r = el.getBoundingClientRect();
        return { x: r.right - parseFloat(getComputedStyle(el).paddingRight) - 6, y: r.top + r.height / 2 };
      });
      await a.mouse.click(cross.x, cross.y);
      for (const tab of tabs) await expect(names(tab)).toHaveText(['Anna', 'Bruno', 'Carla']);
      for (const field of [input, inputB]) await expect(field).toHaveValue('');

      // Its text deleted: the whole list is back at once, and the field stays in editing
      // for the next search; Enter on the emptied field then changes nothing.
      await search('car');
      for (const tab of tabs) await expect(names(tab)).toHaveText(['Carla']);
      await clickInto(a, input);
      await a.keyboard.press('Control+A');
      await a.keyboard.press('Delete');
      for (const tab of tabs) await expect(names(tab)).toHaveText(['Anna', 'Bruno', 'Carla']);
      await expect(input).toBeFocused();
      await expect(a.locator('.searchbar-cancel')).toBeVisible();
      await a.keyboard.press('Enter');
      await expect(input).not.toBeFocused();
      await expect(names(a)).toHaveText(['Anna', 'Bruno', 'Carla']);
      await search('bru');
      for (const tab of tabs) await expect(names(tab)).toHaveText(['Bruno']);
    } finally {
      await other.close();
    }
  });
}
