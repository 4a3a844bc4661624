// Registers a member through the service's registration page in headless
// chromium, the way a person would: opens the form, finds the fields by
// their Korean labels, types and presses the button. Then tries two posts
// the service must refuse and checks the message each one shows.
//
//   node register.mjs BASE_URL CA_FILE NEW_ID PASSWORD MISMATCH_ID
//
// Exits 0 when every page looked as expected; otherwise prints what was
// wrong (with the page text) and exits non-zero. Uses Debian's chromium
// (CHROMIUM, default /usr/bin/chromium); never a downloaded browser.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const [baseUrl, caFile, newId, password, mismatchId] = process.argv.slice(2);
if (!mismatchId) {
  console.error('usage: node register.mjs BASE_URL CA_FILE NEW_ID PASSWORD MISMATCH_ID');
  process.exit(2);
}
const formUrl = `${baseUrl}/Member/Common/frmMemberRegist.aspx`;

// A hung browser must not hang the test run.
setTimeout(() => {
  console.error('register.mjs: gave up after 120 s');
  process.exit(3);
}, 120_000).unref();

// Trust: chromium on Linux takes locally added authorities from the NSS
// database under $HOME/.pki/nssdb. The browser gets a HOME of its own whose
// database trusts the service's private CA for servers and nothing else, so
// certificate checks stay on and the page is reached as any HTTPS site is.
// Returns that HOME; the caller removes it.
function homeTrustingCa(pemFile) {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'skiv-browser-home-'));
  const db = `sql:${path.join(home, '.pki', 'nssdb')}`;
  fs.mkdirSync(path.join(home, '.pki', 'nssdb'), { recursive: true });
  const run = (args) => execFileSync('certutil', args, { stdio: ['ignore', 'pipe', 'pipe'] });
  run(['-N', '-d', db, '--empty-password']);
  run(['-A', '-d', db, '-n', 'skivaddon-service-ca', '-t', 'C,,', '-i', pemFile]);
  return home;
}

function check(condition, what, pageText) {
  if (!condition)
    throw new Error(`${what}\n--- page text ---\n${pageText ?? ''}`);
}

// Fills the form in `page` (already showing it) and submits it; returns the
// HTTP status of the post's reply.
async function submit(page, id, pw, pwConfirm) {
  await page.getByLabel('아이디', { exact: true }).fill(id);
  await page.getByLabel('비밀번호', { exact: true }).fill(pw);
  await page.getByLabel('비밀번호 확인', { exact: true }).fill(pwConfirm);
  const [reply] = await Promise.all([
    page.waitForResponse((r) => r.url() === formUrl && r.request().method() === 'POST'),
    page.getByRole('button', { name: '가입하기' }).click(),
  ]);
  await page.waitForLoadState('domcontentloaded');
  return reply.status();
}

const home = homeTrustingCa(caFile);
let browser;
try {
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    env: { ...process.env, HOME: home },
    // Tests run as root in a container, where chromium's sandbox cannot start.
    args: ['--no-sandbox'],
  });
  const context = await browser.newContext({ locale: 'ko-KR' });
  context.setDefaultTimeout(30_000);
  const page = await context.newPage();

  const opened = await page.goto(formUrl);
  check(opened && opened.status() === 200, `form answered ${opened && opened.status()}`);
  check(opened.url().startsWith('https://'), `form not over HTTPS: ${opened.url()}`);
  const heading = await page.getByRole('heading', { level: 1 }).innerText();
  check(heading.includes('회원가입'), `heading is "${heading}"`, await page.innerText('body'));
  console.log(`opened ${formUrl}: "${heading}"`);

  // A new member.
  let status = await submit(page, newId, password, password);
  let text = await page.innerText('body');
  const done = page.getByRole('status');
  check(status === 200, `registration answered ${status}`, text);
  check((await done.count()) === 1, 'no success message', text);
  const doneText = await done.innerText();
  check(doneText.includes('회원가입이 완료되었습니다') && doneText.includes(newId),
        `success message is "${doneText}"`, text);
  console.log(`registered ${newId}: "${doneText}"`);

  // Mismatched passwords: refused, the ID kept in the field for a retry.
  status = await submit(page, mismatchId, password, `${password}-other`);
  text = await page.innerText('body');
  let alert = page.getByRole('alert');
  check(status === 400, `mismatched passwords answered ${status}`, text);
  check((await alert.count()) === 1, 'no refusal message for mismatched passwords', text);
  let alertText = await alert.innerText();
  check(alertText.includes('두 비밀번호가 서로 다릅니다'), `refusal is "${alertText}"`, text);
  const keptId = await page.getByLabel('아이디', { exact: true }).inputValue();
  check(keptId === mismatchId, `ID field holds "${keptId}" after the refusal`, text);
  console.log(`refused ${mismatchId} (passwords differ): "${alertText}"`);

  // The new ID again, in upper case: member IDs ignore case, so it is taken.
  status = await submit(page, newId.toUpperCase(), 'another password', 'another password');
  text = await page.innerText('body');
  alert = page.getByRole('alert');
  check(status === 409, `taken ID answered ${status}`, text);
  check((await alert.count()) === 1, 'no refusal message for a taken ID', text);
  alertText = await alert.innerText();
  check(alertText.includes('이미 사용 중인 아이디'), `refusal is "${alertText}"`, text);
  console.log(`refused ${newId.toUpperCase()} (taken): "${alertText}"`);
} finally {
  await browser?.close();
  fs.rmSync(home, { recursive: true, force: true });
}
