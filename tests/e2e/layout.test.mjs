// The page fills the window: a phone's screen upright and sideways, and a desktop's, with
// every bar button on screen, the list taking the height the bars leave (three rows on a
// phone held sideways), the tool sheet's Cancel in view however many commands it has, and
// the busy overlay across the window with its texts at the page's size. Pictures of each go
// to the test's output, for people to look at.
import { test, expect, openApp } from './voryx.mjs';

// fullRows: rows at least wholly on screen; targets: every control at least this high;
// language: the page in another language than English (longer button titles).
const kViewports = [
  { width: 320, height: 480, fullRows: 3, targets: 44 },
  { width: 320, height: 480, fullRows: 3, targets: 44, language: 'it-IT' },
  { width: 480, height: 320, fullRows: 3, targets: 36 },
  { width: 1280, height: 800, fullRows: 9, targets: 44 },
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
      await expect(page.locator('.list-row')).toHaveCount(20);

      const inside = (b) => b && b.x >= 0 && b.y >= 0 && b.x + b.width <= width + 0.5 && b.y + b.height <= height + 0.5;
      const controls = page.locator('.navbar .barbutton, .toolbar .barbutton, .segment, .legend, .searchbar input');
      await expect(controls).toHaveCount(10);
      for (const control of await controls.all()) {
        const box = await control.boundingBox();
        expect(inside(box), `${await control.textContent()} at ${JSON.stringify(box)}`).toBe(true);
        expect(await control.evaluate((el) => el.scrollWidth <= el.clientWidth), `${await control.textContent()} cut off`).toBe(true);
        if (targets) expect(box.height).toBeGreaterThanOrEqual(targets);
      }
      const list = await page.locator('.list').boundingBox();
      const whole = [];
      for (const row of await page.locator('.list-row').all()) {
        const b = await row.boundingBox();
        if (inside(b) && b.y >= list.y && b.y + b.height <= list.y + list.height + 0.5) whole.push(b);
        if (targets) expect(b.height).toBeGreaterThanOrEqual(targets);
      }
      expect(whole.length).toBeGreaterThanOrEqual(fullRows);
      await page.screenshot({ path: testInfo.outputPath(`main-${named.replaceAll(' ', '-')}.png`) });

      // The tool sheet's commands show whole, however long their titles, scrolling where
      // the window is too short for all of them; its Cancel stays in view.
      await page.locator('.toolbar [data-id="tool"]').click();
      await expect(page.locator('.sheet-button')).toHaveCount(10);  // nine commands and Cancel
      const cancel = page.locator('.sheet-cancel');
      const onTop = (b) => page.evaluate(([x, y]) => document.elementFromPoint(x, y)?.closest('.sheet-button')?.textContent,
        [b.x + b.width / 2, b.y + b.height / 2]);
      for (const button of await page.locator('.sheet-button').all()) {
        expect(await button.evaluate((el) => el.scrollWidth <= el.clientWidth && el.scrollHeight <= el.clientHeight),
          `${await button.textContent()} cut off`).toBe(true);
        await button.scrollIntoViewIfNeeded();
        const b = await button.boundingBox();
        expect(inside(b), `${await button.textContent()} reachable`).toBe(true);
        expect(await onTop(b)).toBe(await button.textContent());
        const c = await cancel.boundingBox();
        expect(inside(c) && await onTop(c) === texts.cancel, `Cancel in view with ${await button.textContent()}`).toBe(true);
      }
      await page.screenshot({ path: testInfo.outputPath(`sheet-${named.replaceAll(' ', '-')}.png`) });
      await page.keyboard.press('Escape');
      await expect(page.locator('.sheet')).toHaveCount(0);

      // The rows carry changes: a read asks first, in an alert that fits the window.
      await page.locator('.toolbar [data-id="leggi"]').click();
      const alert = page.locator('.alert');
      await expect(alert.locator('.alert-button')).toHaveText([texts.cancel, texts.read]);
      for (const button of await alert.locator('.alert-button').all()) {
        const b = await button.boundingBox();
        expect(inside(b)).toBe(true);
        if (targets) expect(b.height).toBeGreaterThanOrEqual(targets);
      }
      await page.screenshot({ path: testInfo.outputPath(`alert-${named.replaceAll(' ', '-')}.png`) });

      // The overlay covers the whole column, its caption at the size of the page's own
      // texts (the alert's title), inside the window, clear of the spinner.
      const pageText = await alert.locator('.alert-title').evaluate((el) => getComputedStyle(el).fontSize);
      await alert.getByRole('button', { name: texts.read }).click();
      const caption = page.locator('.overlay-caption > span');
      await expect(caption).toHaveText(texts.initializing);
      const [column, cover, text, wheel] = await Promise.all(['#frame', '.overlay', '.overlay-caption > span', '.overlay-wheel']
        .map((selector) => page.locator(selector).boundingBox()));
      expect(cover).toEqual(column);
      expect(await caption.evaluate((el) => getComputedStyle(el).fontSize)).toBe(pageText);
      expect(inside(text)).toBe(true);
      expect(text.y + text.height).toBeLessThanOrEqual(wheel.y);
      await page.screenshot({ path: testInfo.outputPath(`overlay-${named.replaceAll(' ', '-')}.png`) });
    });
  });
}
