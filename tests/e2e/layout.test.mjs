// The page fills the window: a phone's screen upright and sideways, and a desktop's, with
// every bar button on screen, the list taking the height the bars leave, and the busy
// overlay's 320x480 design box scaled to fit. Pictures of each go to the test's output,
// for people to look at.
import { test, expect, openApp } from './voryx.mjs';

// fullRows: rows at least wholly on screen; targets: every control at least 44 px high;
// language: the page in another language than English (longer button titles).
const kViewports = [
  { width: 320, height: 480, fullRows: 3, targets: 44 },
  { width: 320, height: 480, fullRows: 3, targets: 44, language: 'it-IT' },
  { width: 480, height: 320, fullRows: 1 },
  { width: 1280, height: 800, fullRows: 9 },
];

// The texts the test looks for, by language.
const kTexts = {
  en: { cancel: 'Cancel', read: 'Read', initializing: 'Initializing...' },
  it: { cancel: 'Annulla', read: 'Leggi', initializing: 'Inizializzazione...' },
};

const contacts = Array.from({ length: 20 }, (_, i) => [i + 1, `Contact ${i + 1}`, `+390200${i}`, i % 4]);

for (const { width, height, fullRows, targets, language } of kViewports) {
  const named = `${width}x${height}${language ? ` in ${language}` : ''}`;
  test.describe(() => {
    if (language) test.use({ locale: language });
    test(`at ${named} every bar button is on screen and ${fullRows}+ rows show`, async ({ page, serve }, testInfo) => {
      await page.setViewportSize({ width, height });
      const texts = kTexts[language?.slice(0, 2) ?? 'en'];
      const server = await serve({ phonebook: contacts }, {}, ['--simulate']);
      await openApp(page, server);
      await expect(page.locator('.row')).toHaveCount(20);

      const inside = (b) => b && b.x >= 0 && b.y >= 0 && b.x + b.width <= width + 0.5 && b.y + b.height <= height + 0.5;
      const controls = page.locator('.navbar .barbutton, .toolbar .barbutton, .segment, .searchbar input');
      await expect(controls).toHaveCount(9);
      for (const control of await controls.all()) {
        const box = await control.boundingBox();
        expect(inside(box), `${await control.textContent()} at ${JSON.stringify(box)}`).toBe(true);
        expect(await control.evaluate((el) => el.scrollWidth <= el.clientWidth), `${await control.textContent()} cut off`).toBe(true);
        if (targets) expect(box.height).toBeGreaterThanOrEqual(targets);
      }
      const list = await page.locator('.list').boundingBox();
      const whole = [];
      for (const row of await page.locator('.row').all()) {
        const b = await row.boundingBox();
        if (inside(b) && b.y >= list.y && b.y + b.height <= list.y + list.height + 0.5) whole.push(b);
        if (targets) expect(b.height).toBeGreaterThanOrEqual(targets);
      }
      expect(whole.length).toBeGreaterThanOrEqual(fullRows);
      await page.screenshot({ path: testInfo.outputPath(`main-${named.replaceAll(' ', '-')}.png`) });

      // The tool sheet's commands show whole, however long their titles.
      await page.locator('.toolbar [data-id="tool"]').click();
      await expect(page.locator('.sheet .button')).toHaveCount(9);
      for (const button of await page.locator('.sheet .button').all()) {
        expect(await button.evaluate((el) => el.scrollWidth <= el.clientWidth && el.scrollHeight <= el.clientHeight),
          `${await button.textContent()} cut off`).toBe(true);
      }
      await page.screenshot({ path: testInfo.outputPath(`sheet-${named.replaceAll(' ', '-')}.png`) });
      await page.keyboard.press('Escape');
      await expect(page.locator('.sheet')).toHaveCount(0);

      // The rows carry changes: a read asks first, in an alert that fits the window.
      await page.locator('.toolbar [data-id="leggi"]').click();
      const alert = page.locator('.alert');
      await expect(alert.locator('.button')).toHaveText([texts.cancel, texts.read]);
      for (const button of await alert.locator('.button').all()) {
        const b = await button.boundingBox();
        expect(inside(b)).toBe(true);
        if (targets) expect(b.height).toBeGreaterThanOrEqual(targets);
      }
      await page.screenshot({ path: testInfo.outputPath(`alert-${named.replaceAll(' ', '-')}.png`) });

      // The overlay keeps its 320x480 points, scaled as large as the window allows, centred.
      await alert.getByRole('button', { name: texts.read }).click();
      await expect(page.locator('.overlay .caption')).toHaveText(texts.initializing);
      const box = await page.locator('.overlay .designbox').boundingBox();
      const scale = Math.min(Math.min(width, 720) / 320, height / 480);
      expect(box.width).toBeCloseTo(320 * scale, 0);
      expect(box.height).toBeCloseTo(480 * scale, 0);
      expect(box.x + box.width / 2).toBeCloseTo(width / 2, 0);
      expect(box.y + box.height / 2).toBeCloseTo(height / 2, 0);
      await page.screenshot({ path: testInfo.outputPath(`overlay-${named.replaceAll(' ', '-')}.png`) });
    });
  });
}
