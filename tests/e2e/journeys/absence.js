'use strict';
// Setting an absence with a date and a time, then open-ended with a mark,
// then clearing it: each time the window closes, every client of the
// office gets the person's new state, the person file holds it and the
// board shows it on its next load; the form shows the stored state.

const sjis = require('../lib/sjis');
const office = require('../lib/office');
const { personData, parseDatagram } = require('../lib/udp');
const { boardFrame, openPersonWindow, expectBoard } = require('../lib/board');
const { frames, choose, pressAndClose, recordDialogs } = require('../lib/user_window');
const { equal, ok, show } = require('../lib/expect');

const KEY = 'aoki';

function dateValue(d) {
  const p = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}/${p(d.getMonth() + 1)}/${p(d.getDate())}`;
}

// What the absence form shows.
async function formState(main) {
  return main.evaluate(() => {
    const f = document.forms.huzaiset;
    const sel = (name) => [...f.elements[name].options].filter((o) => o.selected).map((o) => o.value);
    return {
      dateOptions: f.elements.modoridate.options.length,
      firstDate: f.elements.modoridate.options[0]?.value,
      dateSelected: [...f.elements.modoridate.options].filter((o) => o.defaultSelected).map((o) => o.value),
      time: f.elements.modoritime.value,
      kind: [...f.querySelectorAll('input[name="modoritype"]')].filter((r) => r.checked).map((r) => r.value),
      marks: [...f.elements.statusicon.options].map((o) => [o.value, o.textContent]),
      mark: sel('statusicon'),
      reason: f.elements.huzairiyu.value,
    };
  });
}

// Every client address got exactly one person-data datagram, this one.
async function expectSentToAll(ctx, addresses, want, what) {
  await ctx.clients.waitFor((r) => addresses.every((a) => r.some((d) => d.to === a)));
  const got = ctx.clients.take();
  const per = addresses.map((a) => got.filter((d) => d.to === a).length);
  equal(per, addresses.map(() => 1), `${what}: datagrams per client address ${addresses.join(' ')}`);
  for (const d of got) {
    ok(d.data.equals(want), `${what}: datagram to ${d.to} should be ${show(parseDatagram(want))}`,
      parseDatagram(d.data) || d.data.toString('latin1'));
  }
}

async function run(ctx) {
  await ctx.requireBuilt(['', 'keiziban', `uframe?user=${KEY}`, `uhuzai?user=${KEY}`, `uopmenu?user=${KEY}`]);
  const persons = ctx.persons();
  const addresses = persons.map((p) => p.ip);
  const aoki = persons.find((p) => p.key === KEY);
  const page = ctx.context.pages()[0] || (await ctx.context.newPage());
  await page.goto(ctx.base);

  // Sets the window's absence form and presses one of its buttons.
  const submit = async (button, fill, name) => {
    const popup = await openPersonWindow(page, KEY);
    const dialogs = recordDialogs(popup);
    await choose(popup, 'uhuzai', KEY);
    const { main } = frames(popup);
    equal(await main.textContent('span.Title'), `${aoki.name}さんの不在設定を行います。`, 'absence form: heading');
    const before = await formState(main);
    if (fill) await fill(main);
    if (name) await ctx.shot(popup, name);
    ctx.clients.take();
    await pressAndClose(popup, 'uhuzai', button);
    equal(dialogs, [], `absence ${button}: dialogs shown`);
    return before;
  };
  const boardAfter = async (what, want) => {
    const from = new Date();
    await page.reload();
    const others = ctx.persons().filter((p) => p.key !== KEY);
    const expected = office.boardOrder([...others, want]);
    await expectBoard(boardFrame(page), expected, from, new Date(), `board after ${what}`);
  };
  const expectFile = (what, want) => {
    const f = office.readPerson(aoki.file);
    equal([f.date, f.time, f.icon, f.reason, f.name, f.memo, f.ip],
      [want.date, want.time, want.icon, want.reason, aoki.name, aoki.memo, aoki.ip], `${what}: ${KEY}.kvl`);
  };
  const path = office.datagramPath(aoki);

  // 1. Back tomorrow at 15:30, away with the first custom mark.
  const tomorrow = dateValue(new Date(new Date().getFullYear(), new Date().getMonth(), new Date().getDate() + 1));
  const reason = '客先訪問\n直帰予定';
  const first = await submit('submit', async (main) => {
    await main.selectOption('select[name="modoridate"]', tomorrow);
    await main.fill('input[name="modoritime"]', '15:30');
    await main.check('input[name="modoritype"][value="datetime"]');
    await main.selectOption('select[name="statusicon"]', '1');
    await main.fill('textarea[name="huzairiyu"]', reason);
  }, 'form-datetime');
  equal(first.dateOptions, 91, 'absence form of a present person: days offered');
  equal(first.firstDate, dateValue(new Date()), 'absence form: first day offered');
  equal([first.dateSelected, first.time, first.kind, first.mark, first.reason], [[], '', ['nolimit'], ['0'], ''],
    'absence form of a present person');
  equal(first.marks, office.MARK_CAPTIONS.map((c, i) => [String(i), c]), 'absence form: marks offered');
  await expectSentToAll(ctx, addresses, personData({ path, date: Buffer.from(tomorrow), time: Buffer.from('15:30'),
    icon: 1, reason: sjis.encode(reason.replace(/\n/g, '\r\n')) }), 'absence until tomorrow');
  const stored = { date: tomorrow, time: '15:30', icon: 1, reason: '客先訪問\r\n直帰予定\r\n' };
  expectFile('absence until tomorrow', stored);
  const withStored = (s) => ({ ...aoki, ...s, raw: { ...aoki.raw, reason: sjis.encode(s.reason) } });
  await boardAfter('absence until tomorrow', withStored(stored));
  await ctx.shot(page, 'board-datetime');

  // 2. Open-ended, with the second custom mark.
  const second = await submit('submit', async (main) => {
    await main.check('input[name="modoritype"][value="nolimit"]');
    await main.selectOption('select[name="statusicon"]', '2');
    await main.fill('textarea[name="huzairiyu"]', '定例会議に出席');
  }, 'form-nolimit');
  equal([second.dateSelected, second.time, second.kind, second.mark, second.reason],
    [[tomorrow], '15:30', ['datetime'], ['1'], reason], 'absence form after setting tomorrow 15:30');
  await expectSentToAll(ctx, addresses, personData({ path, date: sjis.encode(office.MARK_CAPTIONS[2]),
    time: Buffer.alloc(0), icon: 2, reason: sjis.encode('定例会議に出席') }), 'open-ended absence');
  const openEnded = { date: office.MARK_CAPTIONS[2], time: '', icon: 2, reason: '定例会議に出席\r\n' };
  expectFile('open-ended absence', openEnded);
  await boardAfter('open-ended absence', withStored(openEnded));
  await ctx.shot(page, 'board-nolimit');

  // 3. Cleared with the form's clear button.
  const third = await submit('clear', null, null);
  equal([third.dateSelected, third.time, third.kind, third.mark, third.reason],
    [[], '', ['nolimit'], ['2'], '定例会議に出席'], 'absence form after the open-ended absence');
  await expectSentToAll(ctx, addresses, personData({ path, date: Buffer.alloc(0), time: Buffer.alloc(0), icon: 0,
    reason: Buffer.alloc(0) }), 'cleared absence');
  const cleared = { date: '', time: '', icon: 0, reason: '\r\n' };
  expectFile('cleared absence', cleared);
  await boardAfter('cleared absence', withStored(cleared));
}

module.exports = { run };
