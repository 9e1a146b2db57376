// The SIM's PIN question against `voryx serve --simulate --pin 1234`, by keyboard only: it
// comes over the progress overlay and takes the keys, a wrong PIN's alert takes Enter,
// Escape cancels, the right PIN reads; axe and three sizes. What each alert says and how
// many tries are left are the screen and job tests' part.
import { test, expect, openApp, lookAt } from './voryx.mjs';

test.use({ bypassCSP: true });

test('the PIN is asked over the overlay and takes the keys; a wrong one, Escape, the right one', async ({ page, serve }, testInfo) => {
  const server = await serve(undefined, {}, ['--simulate', '--pin', '1234']);
  await page.setViewportSize({ width: 320, height: 480 });
  await openApp(page, server);
  const question = page.getByRole('alertdialog', { name: 'SIM PIN' });
  const field = question.getByRole('textbox', { name: 'PIN' });
  const overlay = page.locator('.overlay');
  const read = async () => {
    await page.locator('.toolbar [data-id="leggi"]').focus();
    await page.keyboard.press('Enter');
    await expect(question).toBeVisible({ timeout: 20_000 });
  };

  await read();
  // The question is on top of the overlay, which stays up, and its field has the keys.
  await expect(overlay).toHaveCount(1);
  await expect(field).toBeFocused();
  await expect(field).toHaveAttribute('type', 'password');
  await expect(field).toHaveAttribute('autocomplete', 'off');
  const box = await question.boundingBox();
  expect(await page.evaluate(([x, y]) => Boolean(document.elementFromPoint(x, y)?.closest('.alert')),
    [box.x + box.width / 2, box.y + box.height / 2])).toBe(true);
  await field.pressSequentially('0000');
  await lookAt(page, testInfo, 'pin', async (width, height) => {
    const b = await question.boundingBox();
    expect(b.x >= 0 && b.y >= 0 && b.x + b.width <= width && b.y + b.height <= height, `${width}x${height}`).toBe(true);
  });

  // A wrong PIN: the read ends with an alert whose Ok has the focus.
  await page.keyboard.press('Enter');
  const refused = page.getByRole('alertdialog', { name: 'Read from SIM' });
  await expect(refused).toBeVisible({ timeout: 20_000 });
  await expect(overlay).toHaveCount(0);
  await page.keyboard.press('Enter');
  await expect(refused).toHaveCount(0);

  // Escape cancels: nothing read, nothing said.
  await read();
  await page.keyboard.press('Escape');
  await expect(overlay).toHaveCount(0, { timeout: 20_000 });
  await expect(page.getByRole('alertdialog')).toHaveCount(0);

  // The right PIN reads the list.
  await read();
  await field.pressSequentially('1234');
  await page.keyboard.press('Enter');
  await expect(overlay).toHaveCount(0, { timeout: 30_000 });
  await expect(page.locator('.list-row')).toHaveCount(36);
});
