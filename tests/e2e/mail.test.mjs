// The support mail: with logging on, the tool sheet's "Send debug log to support" brings up
// the composer over the main screen with the log as it stood, every line of it readable;
// the edited message downloads as an .eml whose parts Python's email package reads back;
// Cancel (or Escape) drops it; keyboard, axe, and how it looks at three sizes.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test, expect, openApp, lookAt } from './voryx.mjs';

// axe is injected as an inline script, which the page's policy refuses.
test.use({ bypassCSP: true });

const kReadEml = `
import email, email.policy, json, sys
m = email.message_from_bytes(open(sys.argv[1], 'rb').read(), policy=email.policy.default)
print(json.dumps({'to': str(m['to']), 'subject': str(m['subject']), 'html': m.get_body(('html',)).get_content(),
  'attachments': [{'type': a.get_content_type(), 'filename': a.get_filename(), 'hex': a.get_payload(decode=True).hex()}
                  for a in m.iter_attachments()]}))`;

const tool = async (page, name) => {
  await page.locator('.toolbar [data-id="tool"]').click();
  await page.locator('.sheet').getByRole('button', { name }).click();
};

// Logging on, a read of the virtual SIM logged, then the composer. Answers the log's bytes
// as they were when the composer came up.
async function openComposer(page, server) {
  await tool(page, 'Start debug log');
  await page.locator('.toolbar [data-id="leggi"]').click();
  await expect(page.locator('.navbar .title')).toHaveText('Vorx (36/250)', { timeout: 30_000 });
  await expect(page.locator('.overlay')).toHaveCount(0);
  const log = fs.readFileSync(path.join(server.home, 'state', 'Voryx.log'));
  await tool(page, 'Send debug log to support');
  await expect(page.getByRole('dialog', { name: 'Voryx support (v0.1)' })).toBeVisible();
  return log;
}

test('the composer shows the whole log; the edited message downloads as an .eml with it; three sizes', async ({ page, serve }, testInfo) => {
  const server = await serve(undefined, { DISPLAY: '', WAYLAND_DISPLAY: '' }, ['--simulate']);
  await page.setViewportSize({ width: 320, height: 480 });
  await openApp(page, server);
  const log = await openComposer(page, server);
  expect(log.toString()).toContain('+CPBR:');

  const attachment = page.getByRole('textbox', { name: `Voryx.log, ${log.length} bytes` });
  await expect(page.getByText(`Voryx.log, ${log.length} bytes`)).toBeVisible();
  // The page shows a line end as one whatever it was (CR, CRLF): every other byte is there.
  await expect(attachment).toHaveValue(log.toString().replace(/\r\n?/g, '\n'));
  await expect(attachment).toHaveJSProperty('readOnly', true);
  await expect(page.getByRole('textbox', { name: 'To:' })).toHaveValue('support@voryx.invalid');
  await expect(page.getByRole('textbox', { name: 'Subject:' })).toHaveValue('Voryx support (v0.1)');
  await page.getByText('Subject:').click();  // a label takes the focus to its field
  await expect(page.getByRole('textbox', { name: 'Subject:' })).toBeFocused();

  await lookAt(page, testInfo, 'composer', async (width, height) => {
    // Nothing spills sideways; the navigation bar stays; the composer scrolls to its end.
    const bar = await page.locator('[data-layer="modal"] .navbar').boundingBox();
    expect(bar.width, `${width}x${height}`).toBeLessThanOrEqual(width);
    for (const box of await page.locator('[data-layer="modal"] .composer .textinput').all()) {
      await box.scrollIntoViewIfNeeded();
      const b = await box.boundingBox();
      expect(b.x >= 0 && b.x + b.width <= width && b.height >= 40, `${width}x${height}`).toBe(true);
    }
    await page.locator('[data-layer="modal"] .composer').evaluate((el) => el.scrollTo(0, 0));
  });

  // The description typed at the end of the body goes in the message.
  const body = page.getByRole('textbox', { name: 'Message' });
  await body.click();
  await body.press('Control+End');
  await body.pressSequentially('Names with è are cut <after> a read & write.');
  await expect.poll(() => page.evaluate(async () => (await (await fetch('/api/state')).json()).modal.composer.body.text))
    .toBe('BELOW ADD A DESCRIPTION OF THE ISSUE\n\nNames with è are cut <after> a read & write.');
  const [download] = await Promise.all([page.waitForEvent('download'), page.getByRole('button', { name: 'Send' }).click()]);
  expect(download.suggestedFilename()).toBe('Voryx support.eml');
  const eml = JSON.parse(execFileSync('python3', ['-c', kReadEml, await download.path()], { encoding: 'utf8' }));
  expect(eml).toEqual({
    to: 'support@voryx.invalid',
    subject: 'Voryx support (v0.1)',
    html: 'BELOW ADD A DESCRIPTION OF THE ISSUE<br><br>Names with è are cut &lt;after&gt; a read &amp; write.',
    attachments: [{ type: 'text/plain', filename: 'Voryx.log', hex: log.toString('hex') }],
  });
  await expect(page.getByRole('dialog')).toHaveCount(0);
  // Logging stopped when the composer came up: the sheet offers to start it again.
  await page.locator('.toolbar [data-id="tool"]').click();
  await expect(page.locator('.sheet').getByRole('button', { name: 'Start debug log' })).toBeVisible();
});

test('keyboard: every part in order, Cancel by Escape sends nothing', async ({ page, serve }) => {
  const server = await serve(undefined, { DISPLAY: '', WAYLAND_DISPLAY: '' }, ['--simulate']);
  await openApp(page, server);
  const log = await openComposer(page, server);

  const focused = page.locator(':focus');
  await expect(focused).toHaveAccessibleName('Cancel');
  for (const stop of ['Send', 'To:', 'Subject:', 'Message', `Voryx.log, ${log.length} bytes`]) {
    await page.keyboard.press('Tab');
    await expect(focused).toHaveAccessibleName(stop);
  }
  // The read-only view scrolls by keyboard.
  await page.keyboard.press('End');
  await page.keyboard.press('Control+End');
  expect(await focused.evaluate((el) => el.scrollTop)).toBeGreaterThan(0);

  let downloads = 0;
  page.on('download', () => downloads++);
  await page.keyboard.press('Escape');
  await expect(page.getByRole('dialog')).toHaveCount(0);
  await expect(page.locator('.toolbar [data-id="tool"]')).toBeVisible();
  await page.locator('.toolbar [data-id="tool"]').click();
  await expect(page.locator('.sheet').getByRole('button', { name: 'Start debug log' })).toBeVisible();
  expect(downloads).toBe(0);
});
