// Accessibility checks of the main screen, the edit screen, an alert and the busy overlay
// with axe-core, and the contrast of the texts drawn over gradients, which axe cannot judge.
import { test, expect, openApp, seriousViolations } from './voryx.mjs';


// axe is injected as an inline script, which the page's policy refuses.
test.use({ bypassCSP: true });


// WCAG 2 relative luminance and contrast ratio, colours in 0..255.
function luminance(rgb) {
  const [r, g, b] = rgb.map((v) => {
    const c = v / 255;
    return c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
  });
  return 0.2126 * r + 0.7152 * g + 0.0722 * b;
}
function contrast(a, b) {
  const [hi, lo] = [luminance(a), luminance(b)].sort((x, y) => y - x);
  return (hi + 0.05) / (lo + 0.05);
}

// Each text drawn over a gradient: its colour, the colour of its outline (a sharp text
// shadow on each of the four sides; null when it has none) and the gradient's stops, the
// darkest and the lightest among them. The rows' gradients are the snapshot's table.
function gradientTexts(gradients) {
  const rgb = (text) => [...text.matchAll(/rgba?\(([\d.]+),\s*([\d.]+),\s*([\d.]+)/g)].map((m) => m.slice(1, 4).map(Number));
  const outline = (shadow) => {
    const colour = shadow.match(/rgb\([^)]*\)/)?.[0];
    const sides = new Set([...shadow.matchAll(/(rgb\([^)]*\)) (-?[\d.]+)px (-?[\d.]+)px 0px/g)]
      .filter((m) => m[1] === colour).map((m) => `${Math.sign(m[2])} ${Math.sign(m[3])}`));
    return ['1 0', '-1 0', '0 1', '0 -1'].every((side) => sides.has(side)) ? rgb(colour)[0] : null;
  };
  const text = (el, what, stops) => {
    const style = getComputedStyle(el);
    return { what, colour: rgb(style.color)[0], outline: outline(style.textShadow), stops };
  };
  const stopsOf = (el, pseudo) => rgb(getComputedStyle(el, pseudo).backgroundImage);
  const all = (selector) => [...document.querySelectorAll(selector)];
  return [
    ...Object.entries(gradients).flatMap(([set, stops]) => all(`.list-row.list-${set} .list-cell`).slice(0, 3)
      .map((cell) => text(cell, `${set} ${cell.className}`, stops.map((c) => c.slice(0, 3).map((v) => v * 255))))),
    ...all('.navbar .title, .navbar .subtitle').map((el) => text(el, el.className, stopsOf(document.querySelector('.navbar')))),
    ...all('.barbutton:not(.disabled), .segment.segment-selected').map((el) => text(el, el.textContent, stopsOf(el, '::before'))),
    ...all('.alert-button').map((el) => text(el, `alert ${el.textContent}`, stopsOf(el))),
  ];
}

test('axe finds nothing serious on the main screen, the edit screen, an alert and the overlay; gradient texts contrast', async ({ page, serve }) => {
  const server = await serve({ phonebook: [[1, 'Anna', '+3901', 0], [2, 'Bruno', '+3902', 1], [3, 'Carla', '+3903', 2],
    [4, 'Dino', '+3904', 3]], simcard: [['sim', '89390100001234567895', '']] }, {}, ['--simulate']);
  await openApp(page, server);
  await expect(page.locator('.navbar .subtitle')).toHaveText('SIM \u20264567895');
  expect(await seriousViolations(page), 'main screen').toEqual([]);

  const editor = page.getByRole('dialog', { name: 'edit value' });
  await page.locator('.list-row', { hasText: 'Anna' }).click();
  await page.locator('.sheet').getByRole('button', { name: 'Edit entry' }).click();
  await expect(editor).toBeVisible();
  await expect(page.locator('.curlflap')).toHaveCount(0);
  expect(await seriousViolations(page), 'edit screen').toEqual([]);
  await page.keyboard.press('Escape');
  await expect(editor).toHaveCount(0);
  await expect(page.locator('.curlflap')).toHaveCount(0);

  await page.locator('.toolbar [data-id="leggi"]').click();
  const alert = page.getByRole('alertdialog');
  await expect(alert).toBeVisible();
  expect(await seriousViolations(page), 'alert').toEqual([]);

  const state = await page.evaluate(async () => (await fetch('/api/state')).json());
  const texts = await page.evaluate(gradientTexts, state.navigation.at(-1).gradients);
  expect(texts.length).toBeGreaterThanOrEqual(12 + 2 + 4 + 2);
  for (const { what, colour, outline, stops } of texts) {
    expect(stops.length, what).toBeGreaterThanOrEqual(2);
    for (const stop of stops) {
      // The fill, or else the outline around it, stands out from the gradient there.
      const best = Math.max(contrast(colour, stop), outline ? contrast(outline, stop) : 0);
      expect(best, `${what} over rgb(${stop})`).toBeGreaterThanOrEqual(4.5);
    }
  }

  await alert.getByRole('button', { name: 'Read' }).click();
  await expect(page.locator('.overlay-caption')).toHaveText('Initializing...');
  expect(await seriousViolations(page), 'overlay').toEqual([]);
});
