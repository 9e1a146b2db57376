// The how-to screen: "How to" pushes it and its frame shows the shipped guide, with the
// network activity indicator on while a page loads (also one opened inside the frame); an
// address that refuses connections gives one "Network error" alert; back while loading
// turns the indicator off. Keyboard, axe (inside the frame too) and three sizes.
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { test, expect, openApp, lookAt } from './voryx.mjs';

// axe is injected as an inline script, which the page's policy refuses; the last test
// keeps the policy.
test.use({ bypassCSP: true });

const axePath = createRequire(import.meta.url).resolve('axe-core/axe.min.js');

// The frame's reports as the page sends them: "start", "finish", "fail:<code>".
function recordReports(page) {
  const reports = [];
  page.on('request', (req) => {
    if (req.method() !== 'POST' || !req.url().endsWith('/api/event')) return;
    const e = req.postDataJSON();
    if (e.target === 'frame:97') reports.push(e.action === 'fail' ? `fail:${e.value.code}` : e.action);
  });
  return reports;
}

// Holds each request for the guide until release() (or for `ms` when given).
function holdGuide(page, ms) {
  let release;
  const gate = new Promise((resolve) => (release = resolve));
  page.route('**/howto/**', async (route) => {
    await (ms === undefined ? gate : new Promise((resolve) => setTimeout(resolve, ms)));
    await route.continue().catch(() => {});  // the frame may have gone meanwhile
  });
  return () => release();
}

// A port on which nothing listens: connections to it are refused at once.
async function closedPort() {
  const server = net.createServer().listen(0, '127.0.0.1');
  await new Promise((resolve) => server.once('listening', resolve));
  const { port } = server.address();
  await new Promise((resolve) => server.close(resolve));
  return port;
}

test('How to shows the shipped guide; the indicator is on while a page loads; keyboard, axe, three sizes', async ({ page, serve }, testInfo) => {
  const server = await serve({ phonebook: [[1, 'Anna', '+3901', 0]] });
  const reports = recordReports(page);
  holdGuide(page, 700);
  await page.setViewportSize({ width: 320, height: 480 });
  await openApp(page, server);
  const title = page.locator('.navbar .title');
  const mainTitle = await title.textContent();
  const indicator = page.locator('.navbar .netactivity');
  const guide = page.frameLocator('iframe[title="How to"]');

  await page.locator('.navbar [data-id="howto"]').click();
  await expect(title).toHaveText('How to');
  await expect(indicator).toBeVisible();
  await expect(guide.locator('h1')).toHaveText('How to use Voryx');
  await expect(indicator).toBeHidden();
  expect(reports).toEqual(['start', 'finish']);

  // axe on the screen and on the guide inside its frame; the frame fills the screen below
  // the navigation bar, at every size; the guide fits its width.
  const frame = page.frames().find((f) => f.url().includes('/howto/'));
  await frame.addScriptTag({ path: axePath });
  await lookAt(page, testInfo, 'about', async (width, height) => {
    const box = await page.locator('iframe').boundingBox();
    const bar = await page.locator('.navbar').boundingBox();
    expect(Math.round(box.y), `${width}x${height}`).toBe(Math.round(bar.y + bar.height));
    expect(Math.round(box.y + box.height), `${width}x${height}`).toBe(height);
    expect(Math.round(box.width), `${width}x${height}`).toBe(Math.round(bar.width));
    const overflow = await guide.locator('html').evaluate((el) => el.scrollWidth - el.clientWidth);
    expect(overflow, `${width}x${height}`).toBe(0);
  });

  // Keyboard: Tab goes from the back button into the guide, to its first link.
  await page.locator('.navbar [data-id="back"]').focus();
  await page.keyboard.press('Tab');
  await expect(page.locator('iframe')).toBeFocused();
  await expect(guide.locator('nav a').first()).toBeFocused();

  // A page opened inside the frame loads with the indicator on, then off.
  await guide.getByRole('link', { name: 'Using a real modem' }).first().click();
  await expect(indicator).toBeVisible();
  await expect(guide.locator('h1')).toHaveText('Using a real modem');
  await expect(indicator).toBeHidden();
  expect(reports).toEqual(['start', 'finish', 'start', 'finish']);
  // Links to other sites open in a new tab.
  const external = await guide.locator('a[href^="http"]').evaluateAll((links) => links.map((a) => `${a.target} ${a.rel}`));
  expect(external).toEqual(['_blank noopener noreferrer']);

  await page.locator('.navbar [data-id="back"]').click();
  await expect(title).toHaveText(mainTitle);
  await expect(page.locator('iframe')).toHaveCount(0);
});

// The policy is bypassed here, as in the tests above: with it on, the page may frame (and
// ask) another address only when voryx serve puts its origin in the policy (frameAddress).
test('an address that refuses connections: the frame reports one failure', async ({ page, serve }) => {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'voryx-e2e-'));
  try {
    fs.mkdirSync(path.join(home, 'config'), { recursive: true });
    const address = `http://127.0.0.1:${await closedPort()}/`;
    fs.writeFileSync(path.join(home, 'config', 'preferences.json'), JSON.stringify({ howtoAddress: address }));
    const server = await serve(null, {}, [], { home, port: 0 });
    const reports = recordReports(page);
    await openApp(page, server);
    await page.locator('.navbar [data-id="howto"]').click();
    await expect(page.locator('.navbar .title')).toHaveText('How to');
    await expect(page.locator('iframe')).toHaveAttribute('src', address);

    // The browser's refusal reaches the application as a failure; what it makes of one is
    // the screen tests' part.
    await expect(page.getByRole('alertdialog', { name: 'Network error' })).toBeVisible();
    await page.waitForTimeout(1000);  // nothing more comes
    expect(reports).toEqual(['start', 'fail:-1004']);
  } finally {
    fs.rmSync(home, { recursive: true, force: true });
  }
});

// Under the page's own policy (no bypass): the guide may be framed by the page.
test.describe('with the content security policy', () => {
  test.use({ bypassCSP: false });

  test('the guide loads in the frame; back while it loads turns the indicator off, no report follows', async ({ page, serve }) => {
    const server = await serve({ phonebook: [[1, 'Anna', '+3901', 0]] });
    const reports = recordReports(page);
    await openApp(page, server);
    const title = page.locator('.navbar .title');
    const mainTitle = await title.textContent();
    const howto = page.locator('.navbar [data-id="howto"]');
    await howto.click();
    await expect(page.frameLocator('iframe').locator('h1')).toHaveText('How to use Voryx');
    await expect.poll(() => reports).toEqual(['start', 'finish']);
    await page.locator('.navbar [data-id="back"]').click();

    const release = holdGuide(page);
    await howto.click();
    await expect(page.locator('.navbar .netactivity')).toBeVisible();
    await page.locator('.navbar [data-id="back"]').click();
    await expect(title).toHaveText(mainTitle);
    await expect(page.locator('.navbar .netactivity')).toBeHidden();
    release();
    await page.waitForTimeout(1000);
    expect(reports).toEqual(['start', 'finish', 'start']);
    await expect(page.locator('.alert')).toHaveCount(0);
  });
});
