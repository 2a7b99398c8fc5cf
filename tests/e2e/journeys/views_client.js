'use strict';
// A presence client saves its person file while the views are open: a
// phone's board, a desk's person page and the wall show the change without
// a reload, and the person page's history names the client as its source.

const office = require('../lib/office');
const { PHONE, DESK, WALL } = require('../lib/browser');
const views = require('../lib/views');
const { equal, ok } = require('../lib/expect');

const KEY = 'satou';
const LIVE_MS = 2000;

async function run(ctx) {
  await views.requireViews(ctx);
  const satou = ctx.persons().find((p) => p.key === KEY);
  const phone = await ctx.open(PHONE);
  const board = phone.pages()[0] || (await phone.newPage());
  const desk = await ctx.open(DESK);
  const person = desk.pages()[0] || (await desk.newPage());
  const wallScreen = await ctx.open(WALL);
  const wall = wallScreen.pages()[0] || (await wallScreen.newPage());
  await board.goto(`${ctx.base}m/`);
  await person.goto(`${ctx.base}m/p/${KEY}`);
  await wall.goto(`${ctx.base}m/wall`);
  await ctx.shot(wall, 'wall-desk-before');
  const phoneWall = await phone.newPage();
  await phoneWall.goto(`${ctx.base}m/wall`);
  await ctx.shot(phoneWall, 'wall-phone');
  await phoneWall.close();

  // Out to a meeting until 23:59 today, as the client writes it.
  const today = office.localDateText(new Date()).replace(/-/g, '/');
  const out = office.writePerson(satou, { reason: '本社で会議', date: today, time: '23:59', icon: '2' });
  await views.waitForRow(board, KEY, { state: views.stateClass(out, new Date()), destination: '本社で会議' }, LIVE_MS);
  await views.waitForWall(wall, satou.name, { inOut: '不在' }, LIVE_MS);
  await person.waitForFunction(() => /本社で会議/.test(document.querySelector('#state').textContent),
    null, { timeout: LIVE_MS });
  await person.waitForFunction(() => document.querySelector('#history li[data-source="client"]'),
    null, { timeout: LIVE_MS });
  const entries = await views.history(person);
  equal(entries[0].source, 'client', 'history: the newest change came from the client');
  ok(entries[0].kind === 'absence', 'history: the change is an absence', entries[0]);
  await ctx.shot(board, 'board-phone-live');

  // Back at the desk: the client empties the fields again.
  office.writePerson(office.readPerson(satou.file), { reason: '', date: '', time: '', icon: '0' });
  await views.waitForRow(board, KEY, { state: 'st-in' }, LIVE_MS);
  await views.waitForWall(wall, satou.name, { inOut: '在席' }, LIVE_MS);
}

module.exports = { run };
