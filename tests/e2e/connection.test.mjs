// The page tells the truth about its connection: a server that has gone (killed, or
// frozen as behind a network that went quiet) is noticed within 2 s; the same server
// back, on the same port and folder, is picked up with the same token; a server back
// with a new token says the session has ended, and the page that a reload then gets is
// the styled one.
import { test, expect, openApp } from './voryx.mjs';

const kNotAnswering = 'Voryx is not answering; trying again\u2026';
const kEnded = 'This session has ended: open the address that voryx serve printed.';

const kOutages = [
  {
    name: 'killed, then started again',
    cut: (server) => server.kill(),
    mend: (server, serve) => serve(undefined, {}, [], server),
    after: '',
  },
  {
    name: 'frozen, then thawed',
    cut: (server) => server.signal('SIGSTOP'),
    mend: (server) => server.signal('SIGCONT'),
    after: '',
  },
  {
    name: 'killed, then started with a new token',
    cut: (server) => server.kill(),
    mend: (server, serve) => serve(undefined, {}, ['--new-token'], server),
    after: kEnded,
  },
];

for (const { name, cut, mend, after } of kOutages) {
  test(`a server ${name}`, async ({ page, serve }) => {
    const server = await serve({ phonebook: [[1, 'Anna', '+3901', 0], [2, 'Bruno', '+3902', 0]] });
    await openApp(page, server);
    const notice = page.locator('#notice');
    await expect(notice).toBeHidden();
    await page.locator('.segment').nth(1).click();  // the state moves on: versions above 1
    await expect(page.locator('.segment').nth(1)).toHaveAttribute('aria-pressed', 'true');

    await cut(server);
    await expect(notice).toHaveText(kNotAnswering, { timeout: 2000 });
    const back = await mend(server, serve);
    if (back) expect(back.url === server.url).toBe(after === '');

    if (after) {
      await expect(notice).toHaveText(after, { timeout: 10_000 });
      const refused = await page.reload();
      expect(refused.status()).toBe(403);
      await expect(page.locator('p')).toHaveText(kEnded);
      expect(await page.locator('h1').evaluate((el) => getComputedStyle(el).backgroundImage)).toMatch(/^linear-gradient/);
      return;
    }
    await expect(notice).toBeHidden({ timeout: 10_000 });
    // The state is drawn afresh (a restarted server shows the phonebook again), and the
    // page's events carry the versions of the server it now talks to.
    const expected = back ? 0 : 1;
    await expect(page.locator('.segment').nth(expected)).toHaveAttribute('aria-pressed', 'true');
    await page.locator('.segment').nth(1 - expected).click();
    await expect(page.locator('.segment').nth(1 - expected)).toHaveAttribute('aria-pressed', 'true');
  });
}
