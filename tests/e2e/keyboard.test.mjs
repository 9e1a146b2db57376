// The main screen from the keyboard alone: Tab visits every control in reading order with
// a visible focus ring, Enter activates, Escape answers an alert with its cancel button,
// and the focus goes back where it was when an alert or the busy overlay goes. The write's
// questions the same way, with axe's verdict on each.
import { test, expect, openApp, lookAt } from './voryx.mjs';

// axe is injected as an inline script, which the page's policy refuses.
test.use({ bypassCSP: true });

// The Tab stops, by accessible name. Cancel appears once the search field has the focus.
const kStops = ['Setup', 'How to', 'Search', 'Cancel', 'Phonebook', 'SMS', 'What the colours mean', '1, Anna, +3901', '2, Bruno, +3902, new',
  'Read from SIM', 'Add', 'Tools', 'Write to SIM'];

// The focus ring is drawn around the element, or around the part the user sees of it (a
// bar button's pill, the search field's frame).
function focusRing(el) {
  const widths = [getComputedStyle(el), getComputedStyle(el, '::before'), getComputedStyle(el.parentElement)]
    .filter((s) => s.outlineStyle !== 'none')
    .map((s) => parseFloat(s.outlineWidth));
  return Math.max(0, ...widths);
}

test('Tab reaches every control in order; Enter reads the SIM; Escape cancels the alert', async ({ page, serve }) => {
  const server = await serve({ phonebook: [[1, 'Anna', '+3901', 0], [2, 'Bruno', '+3902', 1]] }, {}, ['--simulate']);
  await openApp(page, server);
  const focused = page.locator(':focus');
  for (const name of kStops) {
    await page.keyboard.press('Tab');
    await expect(focused).toHaveAccessibleName(name);
    expect(await focused.evaluate(focusRing), name).toBeGreaterThanOrEqual(2);
    if (name === 'Search') await expect(page.getByRole('button', { name: 'Cancel' })).toBeVisible();
  }

  for (const name of kStops.slice(-4, -1).reverse()) {  // and back to Read from SIM
    await page.keyboard.press('Shift+Tab');
    await expect(focused).toHaveAccessibleName(name);
  }

  // A row carries a change: the read asks first. Escape answers Cancel: no read starts.
  const read = page.locator('.toolbar [data-id="leggi"]');
  await expect(read).toBeFocused();
  await page.keyboard.press('Enter');
  const alert = page.getByRole('alertdialog', { name: 'Read from SIM' });
  await expect(alert.getByRole('button', { name: 'Cancel' })).toBeFocused();
  await page.keyboard.press('Escape');
  await expect(alert).toHaveCount(0);
  await expect(read).toBeFocused();

  // Enter again, then Read (Tab, Space): the read runs under the overlay, which takes
  // the focus, and gives it back when it ends.
  await page.keyboard.press('Enter');
  await expect(alert.getByRole('button', { name: 'Cancel' })).toBeFocused();
  await page.keyboard.press('Tab');
  await expect(alert.getByRole('button', { name: 'Read' })).toBeFocused();
  await page.keyboard.press(' ');
  await expect(page.locator('.overlay-caption')).toHaveText('Initializing...');
  await expect(page.locator('.overlay')).toBeFocused();
  await expect(page.locator('.overlay')).toHaveCount(0, { timeout: 30_000 });
  await expect(read).toBeFocused();
});

// The write's questions from the keyboard alone: the confirmation, then (the list was read
// from another SIM) the offer to copy the list onto this one, then the end alert. Escape
// answers Cancel and gives the focus back; Tab and Enter choose. What the copy writes is the
// job tests' part, what the alerts say the screen tests'.
test('the write asks first and a SIM swap offers to copy the list', async ({ page, serve }, testInfo) => {
  await page.setViewportSize({ width: 320, height: 480 });
  const server = await serve({
    phonebook: [[1, 'Anna B', '+3901', 3], [2, 'Bruno', '+3902', 1], [3, 'Carla', '+3903', 0]],
    simcard: [['sim', '89390100009999999990', '222019999999999']],
  }, {}, ['--simulate', '--sim-file', testInfo.outputPath('sim.txt'), '--iccid', '89390100001234567895']);
  await openApp(page, server);
  const title = page.locator('.navbar .title');
  const subtitle = page.locator('.navbar .subtitle');
  await expect(subtitle).toHaveText('SIM \u20269999990');
  // Both lines fit the bar: the title on one line, above the SIM's name.
  await lookAt(page, testInfo, 'write-titles', async () => {
    const [bar, titleBox, subBox] = await Promise.all([page.locator('.navbar'), title, subtitle].map((l) => l.boundingBox()));
    expect(titleBox.height).toBeLessThan(30);
    expect(titleBox.y + titleBox.height).toBeLessThanOrEqual(subBox.y + 0.5);
    expect(subBox.y + subBox.height).toBeLessThanOrEqual(bar.y + bar.height + 0.5);
    expect(await title.evaluate((el) => el.scrollWidth <= el.clientWidth)).toBe(true);
  }, { axe: false });

  const write = page.locator('.toolbar [data-id="scrivi"]');
  for (let i = 0; i < 20 && !(await write.evaluate((el) => el === document.activeElement)); ++i) {
    await page.keyboard.press('Tab');
  }
  await expect(write).toBeFocused();
  const confirmWrite = page.getByRole('alertdialog', { name: 'Write 2 changes to the SIM? (1 new, 1 changed)' });
  const otherSim = page.getByRole('alertdialog', { name: 'Write to SIM' });
  // Enter, then Write (Tab, Enter): the write runs, finds the other SIM and asks.
  const writeToOtherSim = async () => {
    await page.keyboard.press('Enter');
    await expect(confirmWrite.getByRole('button', { name: 'Cancel' })).toBeFocused();
    await page.keyboard.press('Tab');
    await expect(confirmWrite.getByRole('button', { name: 'Write' })).toBeFocused();
    await page.keyboard.press('Enter');
    await expect(otherSim).toHaveAccessibleDescription(/^This is not the SIM the list was read from/, { timeout: 30_000 });
    await expect(otherSim.getByRole('button', { name: 'Cancel' })).toBeFocused();
  };

  await page.keyboard.press('Enter');
  await expect(confirmWrite.getByRole('button', { name: 'Cancel' })).toBeFocused();
  await lookAt(page, testInfo, 'write-confirm');
  await page.keyboard.press('Escape');
  await expect(confirmWrite).toHaveCount(0);
  await expect(write).toBeFocused();

  await writeToOtherSim();
  await lookAt(page, testInfo, 'write-other-sim');
  await page.keyboard.press('Escape');
  await expect(otherSim).toHaveCount(0);
  await expect(write).toBeFocused();

  await writeToOtherSim();
  await page.keyboard.press('Tab');
  await expect(otherSim.getByRole('button', { name: 'Write anyway' })).toBeFocused();
  await page.keyboard.press('Enter');
  const done = page.getByRole('alertdialog', { name: 'Write to SIM' });
  await expect(done).toHaveAccessibleDescription(/^The whole list was copied onto this SIM/, { timeout: 30_000 });
  await lookAt(page, testInfo, 'write-copied');
  await expect(done.getByRole('button', { name: 'Ok' })).toBeFocused();
  await page.keyboard.press('Enter');
  await expect(done).toHaveCount(0);
  await expect(subtitle).toHaveText('SIM \u20264567895');
});
