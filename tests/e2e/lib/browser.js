'use strict';
// Debian's Chromium under playwright-core, and what the journeys ask of a
// page: pictures that really show, clicks on image-map buttons, screenshots.

const fs = require('fs');
const path = require('path');
const { chromium } = require('playwright-core');

const CHROMIUM = process.env.QUOR_E2E_CHROMIUM || '/usr/bin/chromium';
const FLAGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// The classic pages' window, a phone held upright, a desk's screen and a
// screen on the wall.
const CLASSIC = { viewport: { width: 820, height: 860 } };
const PHONE = { viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true };
const DESK = { viewport: { width: 1366, height: 900 } };
const WALL = { viewport: { width: 1920, height: 1080 } };

// A persistent context is the only way playwright takes a user-data dir of
// our choosing; the directory is new for every run.
async function launch(userDataDir, device = CLASSIC) {
  const context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: CHROMIUM,
    headless: true,
    args: FLAGS,
    ...device,
    locale: 'ja-JP',
  });
  context.setDefaultTimeout(10000);
  context.setDefaultNavigationTimeout(15000);
  return context;
}

// Every <img> of the frame once it has settled, with whether it shows a
// picture (a broken or body-less answer leaves naturalWidth at 0).
async function images(frame) {
  return frame.evaluate(async () => {
    const all = [...document.images];
    await Promise.all(all.map((img) => (img.complete ? null
      : new Promise((r) => { img.addEventListener('load', r); img.addEventListener('error', r); }))));
    return all.map((img) => ({ src: img.getAttribute('src'), shown: img.naturalWidth > 0 }));
  });
}

// Loads a picture the way the page's style sheet does (same URL, same
// cache); true when it decodes to a picture.
async function pictureShows(frame, src) {
  return frame.evaluate((s) => new Promise((resolve) => {
    const img = new Image();
    img.onload = () => resolve(img.naturalWidth > 0);
    img.onerror = () => resolve(false);
    img.src = s;
  }), src);
}

// Throws with the names of the pictures of the frame that do not show.
async function expectPicturesShown(frame, where, extra = ['bg.jpg']) {
  const list = await images(frame);
  const broken = list.filter((i) => !i.shown).map((i) => i.src);
  for (const src of extra) if (!(await pictureShows(frame, src))) broken.push(src);
  if (broken.length) throw new Error(`${where}: pictures not shown: ${broken.join(', ')}`);
  return list;
}

// A click at a point of a picture, as a user clicks a button drawn on an
// image map.
async function clickPicture(page, frame, selector, x, y) {
  const box = await frame.locator(selector).boundingBox();
  if (!box) throw new Error(`${selector} is not on screen in ${frame.url()}`);
  await page.mouse.click(box.x + x, box.y + y);
}

function screenshots(dir, journey) {
  fs.mkdirSync(dir, { recursive: true });
  return async (page, name) => {
    const file = path.join(dir, `${journey}-${name}.png`);
    await page.screenshot({ path: file });
    return file;
  };
}

module.exports = {
  launch, images, pictureShows, expectPicturesShown, clickPicture, screenshots, CHROMIUM, FLAGS, CLASSIC, PHONE, DESK,
  WALL,
};
