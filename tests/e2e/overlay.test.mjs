// The busy overlay of a read and of a write at the phone's 320x480, drawn as the phone's
// view draws it: the whole view black at the snapshot's alpha, and texts that shrink to
// their frames, never cut off, the label and the write's caption on one line. The frames
// come from the server's own overlay; longer texts are drawn into them by the page's own
// overlay code. Pictures of each go to the test's output.
import { test, expect, openApp } from './voryx.mjs';

const kTransfers = [
  { button: 'leggi', name: 'read', shown: { caption: /^Places on the SIM: 250$/ }, captionLines: 0 },
  { button: 'scrivi', name: 'write', shown: { label: /^Writing entry \d+$/ }, captionLines: 1 },
];

// caption, label, and the caption's font on a read: 'full' when its lines fit the frame
// at full size (a read's caption wraps before it shrinks), else 'smaller'.
const kTexts = [
  { caption: 'Places on the SIM: 250', label: 'Writing entry 250', read: 'full' },
  { caption: 'Posizioni disponibili sulla scheda SIM del telefono: 250',
    label: 'Scrittura della voce numero 250 della rubrica', read: 'full' },
  { caption: 'SIM'.repeat(40), label: 'W'.repeat(60), read: 'full' },  // nowhere to break
  { caption: Array(12).fill('Places on the SIM: 250').join('\n'), label: 'Writing entry 250 of 250 in all', read: 'smaller' },
];

// Font size, lines and overflow of the caption and the label of the overlay in `selector`.
function measure(selector) {
  const boxes = Object.fromEntries(['caption', 'label'].map((part) => {
    const box = document.querySelector(`${selector} .overlay-${part}`);
    const size = parseFloat(getComputedStyle(box.firstChild).fontSize);
    return [part, { size, lines: Math.round(box.firstChild.offsetHeight / (1.2 * size)),
      over: [box.scrollWidth - box.clientWidth, box.scrollHeight - box.clientHeight] }];
  }));
  const layer = getComputedStyle(document.querySelector(`${selector} .overlay`));
  return { ...boxes, opacity: layer.opacity, background: layer.backgroundColor,
    colour: getComputedStyle(document.querySelector(`${selector} .overlay-caption`)).color };
}

function expectDrawn(m, captionLines, what) {
  expect([m.opacity, m.background, m.colour], what).toEqual(['0.75', 'rgb(0, 0, 0)', 'rgb(255, 255, 255)']);
  for (const part of ['caption', 'label']) {
    expect(m[part].over, `${what} ${part} overflows`).toEqual([0, 0]);
    expect(m[part].size, `${what} ${part}`).toBeLessThanOrEqual(17);
  }
  expect(m.label.lines, `${what} label`).toBeLessThanOrEqual(1);  // 0: no label
  if (captionLines === 1) expect(m.caption.lines, `${what} caption`).toBeLessThanOrEqual(1);
}

for (const { button, name, shown, captionLines } of kTransfers) {
  test(`the ${name} overlay at 320x480: black at 0.75, texts shrunk to their frames`, async ({ page, serve }, testInfo) => {
    await page.setViewportSize({ width: 320, height: 480 });
    // Unsent changes give the write entries to write (enough of them that the overlay is
    // still up while the test reads it, on a loaded machine too), at locations the demo SIM
    // leaves empty (a new entry is never written over another); a read of an unmarked
    // store asks nothing.
    const rows = name === 'write'
      ? { phonebook: Array.from({ length: 60 }, (_, i) => [i + 101, `Name ${i + 1}`, `+390${i}`, 1]) }
      : undefined;
    const server = await serve(rows, {}, ['--simulate']);
    await openApp(page, server);
    await page.locator(`.toolbar [data-id="${button}"]`).click();
    if (name === 'write') {  // the write asks first
      await page.getByRole('alertdialog', { name: 'Write 60 changes to the SIM? (60 new)' })
        .getByRole('button', { name: 'Write', exact: true }).click();
    }
    const [part, text] = Object.entries(shown)[0];
    await expect(page.locator(`#overlays .overlay-${part}`)).toHaveText(text);
    await page.screenshot({ path: testInfo.outputPath(`overlay-${name}.png`) });

    // The server's overlay, still up, with its frames; the real texts drawn in them fit.
    let overlay = null;
    await expect.poll(async () => {
      overlay = (await page.evaluate(async () => (await fetch('/api/state')).json())).overlays?.['98'];
      return overlay?.[part];
    }).toMatch(text);
    expect(overlay.captionLines).toBe(captionLines);
    expectDrawn(await page.evaluate(measure, '#overlays'), captionLines, `${name} as shown`);

    // Longer texts in the same frames, drawn by the page's overlay code into a host of
    // their own, above the live one (hidden, so that it does not show through).
    for (const [i, { caption, label, read }] of kTexts.entries()) {
      const what = `${name} ${JSON.stringify(caption.slice(0, 24))} / ${JSON.stringify(label.slice(0, 24))}`;
      await page.evaluate(async (o) => {
        const { drawOverlays } = await import('/kinds/overlay.js');
        let host = document.getElementById('probe');
        if (!host) {
          host = Object.assign(document.createElement('div'), { id: 'probe' });
          document.getElementById('frame').append(host);
          document.getElementById('overlays').style.visibility = 'hidden';
        }
        drawOverlays(host, { 98: o });
      }, { ...overlay, caption, label });
      const m = await page.evaluate(measure, '#probe');
      expectDrawn(m, captionLines, what);
      if (captionLines === 0) {
        if (read === 'full') expect(m.caption.size, what).toBe(17);
        else expect(m.caption.size, what).toBeLessThan(17);
      }
      if (label.length <= 45) expect(m.label.size, `${what} label`).toBeGreaterThanOrEqual(10);
      await page.screenshot({ path: testInfo.outputPath(`overlay-${name}-long-${i}.png`) });
    }
  });
}
