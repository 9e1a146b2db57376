// The browser suite: the real `voryx serve` in Debian's Chromium. Two tests at a time:
// every test starts its own server on a port of the system's choosing, in a home folder
// of its own (a modem's pty and its lock file are its own too), so nothing is shared.
import { defineConfig } from '@playwright/test';

export default defineConfig({
  testDir: '.',
  testMatch: '*.test.mjs',
  workers: 2,
  timeout: 60_000,
  expect: { timeout: 10_000 },
  reporter: 'list',
  outputDir: `${process.env.VORYX_TEST_OUT ?? new URL('../../test-results', import.meta.url).pathname}/playwright`,
  use: {
    browserName: 'chromium',
    headless: true,
    viewport: { width: 480, height: 640 },
    launchOptions: {
      executablePath: '/usr/bin/chromium',
      args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    },
  },
});
