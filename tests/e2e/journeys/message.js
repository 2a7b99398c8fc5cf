'use strict';
// Leaving a message: the alert, the window closing, the entry at the top of
// the person's unread message file, the notice to the person's client, and
// the message board showing it above the divider; markup in a message is
// shown as text and runs nothing.

const fs = require('fs');
const path = require('path');
const sjis = require('../lib/sjis');
const { messageNotice, parseDatagram } = require('../lib/udp');
const { openPersonWindow } = require('../lib/board');
const { frames, choose, pressAndClose, recordDialogs } = require('../lib/user_window');
const { equal, ok, show } = require('../lib/expect');

const HEADER = /^○(.*)\(伝言\) {4}送信日時:(\d{4})年(\d\d)月(\d\d)日\((.)\) (\d\d)時(\d\d)分(\d\d)秒$/;

function readOr(file) {
  return fs.existsSync(file) ? fs.readFileSync(file) : Buffer.alloc(0);
}

// Sends one message through the form as a user does and returns what the
// unread message file held before.
async function send(ctx, page, p, sender, message) {
  const popup = await openPersonWindow(page, p.key);
  const dialogs = recordDialogs(popup);
  await choose(popup, 'udengonsend', p.key);
  const { main } = frames(popup);
  equal(await main.inputValue('input[name="sender"]'), 'ゲスト', 'message form: sender given');
  equal(await main.inputValue('textarea[name="dengonmessage"]'), 'ここに伝言として送信する内容を入れてください。',
    'message form: text given');
  await main.fill('input[name="sender"]', sender);
  await main.fill('textarea[name="dengonmessage"]', message);
  await ctx.shot(popup, `form-${p.key}`);

  const mil = path.join(ctx.dir, `${p.key}.mil`);
  const before = readOr(mil);
  ctx.clients.take();
  const from = new Date();
  await pressAndClose(popup, 'udengonsend', 'send');
  const to = new Date();
  equal(dialogs, ['送信しました！'], 'after sending: dialogs shown');

  // The new entry stands first, then the file as it was.
  const after = readOr(mil);
  const headerEnd = after.indexOf('\r\n');
  ok(headerEnd > 0, `${p.key}.mil after sending should start with a header line`, sjis.decode(after));
  const header = sjis.decode(after.subarray(0, headerEnd));
  const m = HEADER.exec(header);
  ok(m, `${p.key}.mil: header line`, header);
  equal(m[1], sender, `${p.key}.mil: sender`);
  const sent = new Date(+m[2], +m[3] - 1, +m[4], +m[6], +m[7], +m[8]);
  ok(sent >= new Date(from.getTime() - 1000) && sent <= new Date(to.getTime() + 1000),
    `${p.key}.mil: send time should lie between ${from.toString()} and ${to.toString()}`, header);
  equal(m[5], '日月火水木金土'[sent.getDay()], `${p.key}.mil: weekday`);
  const rest = Buffer.concat([sjis.encode(`\r\n${message.replace(/\n/g, '\r\n')}\r\n\r\n`), before]);
  equal(after.subarray(headerEnd), rest, `${p.key}.mil after the header`);

  // One notice, to this person's client.
  const notice = messageNotice(p.key);
  await ctx.clients.waitFor((r) => r.length >= 1);
  const got = ctx.clients.take();
  equal(got.map((d) => [d.to, d.data.toString('latin1')]), [[p.ip, notice.toString('latin1')]],
    `datagrams after sending to ${p.key} (${got.map((d) => show(parseDatagram(d.data))).join(' ')})`);
  return header;
}

// Opens the person's message board and returns its window and text.
async function messageBoard(page, p) {
  const popup = await openPersonWindow(page, p.key);
  const dialogs = recordDialogs(popup);
  await choose(popup, 'udengoncheck', p.key);
  const { main } = frames(popup);
  equal(await main.textContent('span.Title'), `${p.name}さんの伝言板`, 'message board: heading');
  return { popup, main, dialogs, text: await main.innerText('body') };
}

// The colour a line of the message board is drawn in.
function colourOf(main, start) {
  return main.evaluate((s) => {
    const el = [...document.querySelectorAll('pre, xmp, div')].find((e) => e.textContent.trim().startsWith(s));
    return el ? getComputedStyle(el).color : null;
  }, start);
}

async function run(ctx) {
  const persons = ctx.persons();
  const yamada = persons.find((x) => x.key === 'yamada');
  const satou = persons.find((x) => x.key === 'satou');
  await ctx.requireBuilt(['', 'keiziban', `uframe?user=${yamada.key}`, `udengonsend?user=${yamada.key}`,
    `udengoncheck?user=${yamada.key}`, `uopmenu?user=${yamada.key}`]);
  const page = ctx.context.pages()[0] || (await ctx.context.newPage());
  await page.goto(ctx.base);

  const body = '明日の会議は10時からです。\n資料の準備をお願いします。';
  const header = await send(ctx, page, yamada, '高橋 次郎', body);

  const board = await messageBoard(page, yamada);
  const order = [header, '明日の会議は10時からです。', '資料の準備をお願いします。', '○佐藤',
    '○ゲスト', '- 以上が未読伝言です -', '○田中'];
  const at = order.map((s) => board.text.indexOf(s));
  ok(at.every((i) => i >= 0) && at.every((i, n) => n === 0 || i > at[n - 1]),
    `message board of yamada should show in this order: ${order.join(' | ')}`, board.text);
  equal(await colourOf(board.main, header), 'rgb(0, 255, 255)', 'message board: colour of the new header');
  equal(await colourOf(board.main, '明日の会議'), 'rgb(255, 255, 255)', 'message board: colour of the new text');
  equal(await colourOf(board.main, '- 以上が未読伝言です -'), 'rgb(255, 255, 0)', 'message board: divider colour');
  equal(await colourOf(board.main, '○田中'), 'rgb(0, 0, 255)', 'message board: colour of a read header');
  await ctx.shot(board.popup, 'board-yamada');
  await pressAndClose(board.popup, 'udengoncheck', 'close');

  // Markup that would end a literal element and run a script.
  const markup = '</xmp><script>parent.e2eInjected = 1; alert("injected")</script>' +
    '<b id="e2e-injected">bold</b></XMP ><img src=x onerror="alert(2)">';
  await send(ctx, page, satou, 'テスト', markup);
  const shown = await messageBoard(page, satou);
  ok(shown.text.includes(markup), 'message board of satou should show the message as text', shown.text);
  ok(shown.text.indexOf(markup) < shown.text.indexOf('- 以上が未読伝言です -'),
    'message board of satou: the message stands above the divider', shown.text);
  equal(await shown.main.$$eval('#e2e-injected, script, img[src="x"]', (els) => els.length), 0,
    'message board of satou: elements made from the message');
  equal(await shown.popup.evaluate(() => window.e2eInjected), undefined, 'message board of satou: script ran');
  equal(shown.dialogs, [], 'message board of satou: dialogs shown');
  await ctx.shot(shown.popup, 'board-markup');
  await pressAndClose(shown.popup, 'udengoncheck', 'close');
}

module.exports = { run };
