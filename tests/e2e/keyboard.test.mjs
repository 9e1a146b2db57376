// The main screen from the keyboard alone: Tab visits every control in reading order with
// a visible focus ring, Enter activates, Escape answers an alert with its cancel button,
// and the focus goes back where it was when an alert or the busy overlay goes.
import { test, expect, openApp } from './voryx.mjs';

// The Tab stops, by accessible name. Cancel appears once the search field has the focus.
const kStops = ['Setup', 'How to', 'Search', 'Cancel', 'Phonebook', 'SMS', '1, Anna, +3901', '2, Bruno, +3902, new',
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
  expect(await page.evaluate(async () => (await (await fetch('/api/state')).json()).overlays)).toEqual({});

  // Enter again, then Read (Tab, Space): the read runs under the overlay, which takes
  // the focus, and gives it back when it ends.
  await page.keyboard.press('Enter');
  await expect(alert.getByRole('button', { name: 'Cancel' })).toBeFocused();
  await page.keyboard.press('Tab');
  await expect(alert.getByRole('button', { name: 'Read' })).toBeFocused();
  await page.keyboard.press(' ');
  await expect(page.locator('.overlay .caption')).toHaveText('Initializing...');
  await expect(page.locator('.overlay')).toBeFocused();
  await expect(page.locator('.overlay')).toHaveCount(0, { timeout: 30_000 });
  await expect(read).toBeFocused();
  await expect(page.locator('.row')).not.toHaveCount(2);
});
