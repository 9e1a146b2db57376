// Who may talk to `voryx serve`: only a browser that opened the printed URL, through the
// bound address or the host name it was asked to listen on, from the server's own pages.
// A refused browser is shown a styled page. SIGTERM ends the server cleanly.
import { test, expect, openApp, runVoryx } from './voryx.mjs';

test('requests without the token, or from elsewhere, are refused', async ({ page, serve, browser }) => {
  const server = await serve();
  const stranger = await browser.newContext();
  try {
    const refused = await stranger.newPage();
    expect((await refused.goto(`${server.origin}/`)).status()).toBe(401);
    await expect(refused.locator('p')).toHaveText('This session has ended: open the address that voryx serve printed.');
    // Styled: the policy lets the page's own style element through.
    expect(await refused.locator('h1').evaluate((el) => getComputedStyle(el).backgroundImage)).toMatch(/^linear-gradient/);
  } finally {
    await stranger.close();
  }

  await openApp(page, server);
  const [cookie] = await page.context().cookies();
  expect(cookie).toMatchObject({ httpOnly: true, sameSite: 'Strict', path: '/' });
  // Which requests are refused is the web tests' part; the browser's part is that the
  // cookie it keeps is fit to carry the session.
  expect(await server.stop()).toEqual({ code: 0, signal: null });
});

test('--listen takes a host name: the address printed names it, and the page works there', async ({ page, serve }) => {
  const server = await serve(undefined, {}, ['--listen', 'localhost']);
  expect(server.url).toMatch(/^http:\/\/localhost:\d+\/\?token=[0-9a-f]{32}$/);
  await openApp(page, server);
  await expect(page).toHaveURL(`${server.origin}/`);
  // A phone's browser can add the page to its home screen: the manifest passes the page's
  // policy and names the icon, which loads.
  const manifest = await (await page.context().newCDPSession(page)).send('Page.getAppManifest');
  expect(manifest.errors).toEqual([]);
  expect(JSON.parse(manifest.data)).toMatchObject({ name: 'Voryx', start_url: '/', icons: [{ src: '/voryx.svg' }] });
  expect(await page.evaluate(() => new Promise((resolve) => {
    const icon = new Image();
    icon.onload = () => resolve(icon.naturalWidth > 0);
    icon.onerror = () => resolve(false);
    icon.src = document.querySelector('link[rel=icon]').href;
  }))).toBe(true);

  const unknown = runVoryx(['serve', '--port', '0', '--listen', 'no-such-host.invalid']);
  expect(unknown.status).toBe(2);
  expect(unknown.out).toContain('cannot resolve no-such-host.invalid');
});
