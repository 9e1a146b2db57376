// Accessibility checks of the main screen, an alert and the busy overlay with axe-core,
// and the contrast of the texts drawn over gradients, which axe cannot judge.
import { createRequire } from 'node:module';
import { test, expect, openApp } from './voryx.mjs';

const axePath = createRequire(import.meta.url).resolve('axe-core/axe.min.js');

// axe is injected as an inline script, which the page's policy refuses.
test.use({ bypassCSP: true });

async function seriousViolations(page) {
  if (!(await page.evaluate(() => 'axe' in window))) await page.addScriptTag({ path: axePath });
  const { violations } = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
  return violations
    .filter((v) => v.impact === 'serious' || v.impact === 'critical')
    .map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
}

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
// shadow on all sides; null when it has none) and the gradient's stops, darkest and
// lightest among them. The row gradients are the snapshot's own table.
function gradientTexts() {
  const rgb = (text) => [...text.matchAll(/rgba?\(([\d.]+),\s*([\d.]+),\s*([\d.]+)/g)].map((m) => m.slice(1, 4).map(Number));
  const outline = (style) => {
    const shadows = style.textShadow === 'none' ? [] : style.textShadow.split(/,(?![^(]*\))/).map((s) => {
      const [x, y, blur] = (s.match(/-?[\d.]+px/g) ?? []).map(parseFloat);
      return { colour: rgb(s)[0], x, y, blur, alpha: /rgba\([^)]*,\s*0?\.\d+\)/.test(s) ? 0 : 1 };
    });
    const sides = [[1, 0], [-1, 0], [0, 1], [0, -1]];
    const all = sides.every(([dx, dy]) => shadows.some((s) => Math.sign(s.x) === dx && Math.sign(s.y) === dy && !s.blur && s.alpha));
    return all ? shadows[0].colour : null;
  };
  const text = (el, what, stops) => {
    const style = getComputedStyle(el);
    return { what, colour: rgb(style.color)[0], outline: outline(style), stops };
  };
  const out = [];
  const state = window.voryxSnapshot;
  const gradients = state.navigation.at(-1).gradients;
  for (const [set, stops] of Object.entries(gradients)) {
    const row = document.querySelector(`.row.${set}`);
    for (const cell of row.querySelectorAll('.cell')) {
      out.push(text(cell, `${set} row ${cell.className}`, stops.map((c) => c.slice(0, 3).map((v) => v * 255))));
    }
  }
  const title = document.querySelector('.navbar .title');
  out.push(text(title, 'title', rgb(getComputedStyle(title.parentElement).backgroundImage)));
  for (const el of document.querySelectorAll('.barbutton:not(.disabled), .segment.selected')) {
    out.push(text(el, el.textContent, rgb(getComputedStyle(el, '::before').backgroundImage)));
  }
  for (const el of document.querySelectorAll('.alert .button')) {
    out.push(text(el, `alert ${el.textContent}`, rgb(getComputedStyle(el).backgroundImage)));
  }
  return out;
}

test('axe finds nothing serious on the main screen, an alert and the overlay; gradient texts contrast', async ({ page, serve }) => {
  const server = await serve({ phonebook: [[1, 'Anna', '+3901', 0], [2, 'Bruno', '+3902', 1], [3, 'Carla', '+3903', 2],
    [4, 'Dino', '+3904', 3]] }, {}, ['--simulate']);
  await openApp(page, server);
  expect(await seriousViolations(page), 'main screen').toEqual([]);

  await page.locator('.toolbar [data-id="leggi"]').click();
  const alert = page.getByRole('alertdialog');
  await expect(alert).toBeVisible();
  expect(await seriousViolations(page), 'alert').toEqual([]);

  await page.evaluate(async () => {
    window.voryxSnapshot = await (await fetch('/api/state')).json();
  });
  const texts = await page.evaluate(gradientTexts);
  expect(texts.length).toBeGreaterThanOrEqual(12 + 1 + 4 + 2);
  for (const { what, colour, outline, stops } of texts) {
    expect(stops.length, what).toBeGreaterThanOrEqual(2);
    for (const stop of stops) {
      // The fill, or else the outline around it, stands out from the gradient there.
      const best = Math.max(contrast(colour, stop), outline ? contrast(outline, stop) : 0);
      expect(best, `${what} over rgb(${stop})`).toBeGreaterThanOrEqual(4.5);
    }
  }

  await alert.getByRole('button', { name: 'Read' }).click();
  await expect(page.locator('.overlay .caption')).toHaveText('RInitializing...');
  expect(await seriousViolations(page), 'overlay').toEqual([]);
});
