'use strict';
// A person page on a phone while a desk keeps the board open and a wall
// screen shows the office: a message sent shows unread, and read once the
// person's client has read it; an absence set through the form is
// confirmed, is in the person file, and shows on the open board within 2 s
// and on the wall; cleared, the same; the history names the web as the
// source of each.

const office = require('../lib/office');
const { PHONE, DESK, WALL } = require('../lib/browser');
const views = require('../lib/views');
const { equal, ok } = require('../lib/expect');

const KEY = 'aoki';
const LIVE_MS = 2000;

// Taps a form's button; the page that comes back says what was done.
async function submit(page, form, done) {
  await page.locator(`#${form} [type="submit"]`).tap();
  await page.waitForURL(new RegExp(`[?&]done=${done}`));
  ok((await page.textContent('#notice')).trim(), `${form}: a notice confirms it`);
}

async function run(ctx) {
  await views.requireViews(ctx);
  const aoki = ctx.persons().find((p) => p.key === KEY);
  const phone = await ctx.open(PHONE);
  const page = phone.pages()[0] || (await phone.newPage());
  const desk = await ctx.open(DESK);
  const board = desk.pages()[0] || (await desk.newPage());
  const wallScreen = await ctx.open(WALL);
  const wall = wallScreen.pages()[0] || (await wallScreen.newPage());
  await board.goto(`${ctx.base}m/`);
  await wall.goto(`${ctx.base}m/wall`);
  equal((await views.boardRows(board)).find((r) => r.key === KEY).state, 'st-in', 'board: aoki present at first');

  await page.goto(`${ctx.base}m/p/${KEY}`);
  equal(await page.inputValue('#text'), '', 'message box starts empty');
  ok(await page.getAttribute('#text', 'placeholder'), 'message box has a placeholder');

  // A message: sent, shown unread; the client reads it, shown read.
  const text = '明日の打合せは10時からです。';
  await page.fill('#sender', '高橋');
  await page.fill('#text', text);
  await submit(page, 'message-form', 'message');
  const unread = await page.$$eval('#unread li.msg', (lis) => lis.map((li) => li.textContent));
  ok(unread.some((t) => t.includes(text) && t.includes('高橋')), 'sent message among the unread', unread);
  views.readMessages(ctx.dir, KEY);
  await page.reload();
  const read = await page.$$eval('#read li.msg', (lis) => lis.map((li) => li.textContent));
  ok(read.some((t) => t.includes(text)), 'message read by the client among the read ones', read);
  equal(await page.$$eval('#unread li.msg', (lis) => lis.length), 0, 'nothing unread after the client read it');

  // An absence until tomorrow 15:30.
  const tomorrow = new Date();
  tomorrow.setDate(tomorrow.getDate() + 1);
  await page.locator('#type-datetime').check();
  await page.fill('#date', views.isoDate(tomorrow));
  await page.fill('#time', '15:30');
  await page.selectOption('#mark', { label: '外出' });
  await page.fill('#reason', '客先訪問');
  await submit(page, 'absence-form', 'absence');
  const stored = office.readPerson(aoki.file);
  equal([stored.reason, stored.date, stored.time], ['客先訪問\r\n', views.isoDate(tomorrow).replace(/-/g, '/'), '15:30'],
    'person file after the absence');
  ok(/外出/.test(await page.textContent('#state')), 'person page shows the new mark', await page.textContent('#state'));
  await views.waitForRow(board, KEY, { state: 'st-later', destination: '客先訪問' }, LIVE_MS);
  await views.waitForWall(wall, aoki.name, { inOut: '不在' }, LIVE_MS);
  await ctx.shot(page, 'person-phone');
  await ctx.shot(wall, 'wall-desk');

  // Cleared.
  await submit(page, 'clear-form', 'clear');
  equal(office.readPerson(aoki.file).date, '', 'person file after clearing');
  await views.waitForRow(board, KEY, { state: 'st-in' }, LIVE_MS);
  await views.waitForWall(wall, aoki.name, { inOut: '在席' }, LIVE_MS);

  const entries = await views.history(page);
  const absences = entries.filter((e) => e.kind === 'absence').slice(0, 2);
  equal(absences.map((e) => e.source), ['web', 'web'], 'history: the clear and the absence, from the web');
  ok(entries.some((e) => e.kind === 'message' && e.source === 'web'), 'history: the message, from the web', entries);

  // The same page on the desk, for the record.
  await board.goto(`${ctx.base}m/p/${KEY}`);
  await ctx.shot(board, 'person-desk');
}

module.exports = { run };
