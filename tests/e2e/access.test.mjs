// Who may talk to `voryx serve`: only a browser that opened the printed URL, through the
// bound address, from the server's own pages. SIGTERM ends the server cleanly.
import { test, expect, openApp, rawRequest } from './voryx.mjs';

test('requests without the token, or from elsewhere, are refused', async ({ page, serve, browser }) => {
  const server = await serve();
  const stranger = await browser.newContext();
  try {
    expect((await (await stranger.newPage()).goto(`${server.origin}/`)).status()).toBe(401);
  } finally {
    await stranger.close();
  }

  await openApp(page, server);
  const [cookie] = await page.context().cookies();
  expect(cookie).toMatchObject({ httpOnly: true, sameSite: 'Strict', path: '/' });
  const auth = `${cookie.name}=${cookie.value}`;
  const event = JSON.stringify({ version: 1, target: 'window', action: 'touch', value: { x: 1, y: 1, tapCount: 1, phase: 'down', inList: true } });
  const post = (headers) => rawRequest(server.port, {
    method: 'POST', path: '/api/event', body: event,
    headers: { Cookie: auth, 'Content-Type': 'application/json', ...headers },
  });
  expect(await rawRequest(server.port, { path: '/api/state', headers: { Cookie: auth, Host: `rebind.example:${server.port}` } })).toBe(403);
  expect(await post({ Origin: server.origin })).toBe(200);
  expect(await post({})).toBe(403);
  expect(await post({ Origin: 'http://rebind.example' })).toBe(403);
  expect(await server.stop()).toEqual({ code: 0, signal: null });
});
