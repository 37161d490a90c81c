// A webmaster's first hour with Tessaly, in Chromium: what only a browser shows. The exact
// bytes of each page are pinned by the golden files; here the pages render, their scripts
// (pop-up windows, pager and form buttons, window.close) and forms work, and what a real
// browser posts (text areas, file uploads) is stored right, as sqlite3 reads it back.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe } from 'node:test';

import {
  Site, Walk, button, launchChromium, navigates, newVisitor, opensWindow, servePage, shotDir,
} from './harness.mjs';
import { gif, jpeg } from './pictures.mjs';

const admin = { user: 'admin', password: 'first-Secret' };
const newPassword = 'second-Secret';
const seeded = 27; // a list page holds 25: page 2 shows the two oldest

// The picture's decoded size.
function naturalSize(image) {
  return image.evaluate(async (img) => {
    await img.decode();
    return [img.naturalWidth, img.naturalHeight];
  });
}

// Clicks the page's 关闭 button, which closes its window (maybe while the click is still being
// reported, which is the button working, not a failure).
async function closeWithButton(page) {
  const closed = page.waitForEvent('close');
  await button(page, '关 闭').click().catch((error) => {
    if (!page.isClosed()) throw error;
  });
  await closed;
}

// The navy title bar of an admin page's box; the entry lists have none ("").
async function titleBar(page) {
  const bar = page.locator("td[bgcolor='#000080']").first();
  return (await bar.count()) ? (await bar.innerText()).trim() : '';
}

describe('a webmaster in Chromium', { timeout: 110000 }, () => {
  let site;
  let browser;
  let visitor; // the webmaster's browser profile: one session cookie for all its windows
  let home;
  let list;
  let adminPage;
  const walk = new Walk();

  before(async () => {
    fs.rmSync(shotDir, { recursive: true, force: true });
    fs.mkdirSync(shotDir, { recursive: true });
    site = new Site(admin);
    site.sql(`WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ${seeded})
      INSERT INTO MESSAGE (TITLE, CONTENT, STIME)
      SELECT printf('种子日志%02d', i), printf('第%d条种子日志的内容。', i),
             printf('2020-03-%02d 09:05:00.000', i) FROM n`);
    await site.serve(path.join(shotDir, 'server.log'));
    browser = await launchChromium();
    visitor = await newVisitor(browser, walk.errors);
  });

  after(async () => {
    await browser?.close();
    await site?.close();
  });

  // Clicks an admin page's button; gives back the title bar of the page it led to.
  async function press(label) {
    await navigates(adminPage, () => button(adminPage, label).click());
    return titleBar(adminPage);
  }

  // Opens a task of the control panel through its radio buttons, which have no label element.
  async function fromControlPanel(task) {
    assert.equal(await titleBar(adminPage), '控制面板');
    await adminPage.locator("xpath=//input[@type='radio']" +
      `[normalize-space(following-sibling::text()[1])='${task}']`).check();
    return press('确 定');
  }

  async function openEditForm(id) {
    await fromControlPanel('编辑日志');
    await adminPage.locator(`input[type='radio'][name='id'][value='${id}']`).check();
    assert.equal(await press('编 辑'), '编辑日志');
  }

  // From the message after a save, through the edit list, back to the control panel.
  async function editListToControlPanel() {
    await navigates(adminPage, () => button(adminPage, '返 回').click());
    assert.equal(await press('返 回'), '控制面板');
  }

  async function fill(fields) {
    for (const [name, value] of Object.entries(fields)) {
      await adminPage.locator(`[name='${name}']`).fill(value);
    }
  }

  // The stored entry by its ID, or by a title that is stored as typed.
  function entry(key) {
    const where = typeof key === 'number' ? `ID = ${key}` : `TITLE = '${key}'`;
    return site.sql(`SELECT ID, TITLE, CONTENT, STIME FROM MESSAGE WHERE ${where}`)[0];
  }

  // Opens the entry whose title matches `title` (a string or a RegExp) from the list in its
  // pop-up window, checks the window with `check`, and closes it with its own button.
  async function inPopup(title, check) {
    await list.goto(`${site.url}/log/board?action=list`);
    const link = list.getByRole('link', { name: title, exact: true });
    const popup = await opensWindow(visitor, () => link.click());
    await check(popup);
    await closeWithButton(popup);
  }

  walk.step('home-page-block', async () => {
    home = walk.page = await visitor.newPage();
    await home.goto(`${site.url}/`);
    assert.equal(await home.locator('div.news li').first().innerText(), // the hot news block
      `种子日志${seeded} (2020/3/${seeded})`);
  });

  walk.step('list-and-pager', async () => {
    list = walk.page = await opensWindow(visitor,
      () => home.locator('div.news').getByRole('link', { name: '更多的网站日志...' }).click());
    const rows = list.locator('li');
    assert.equal(await rows.count(), 25);
    await navigates(list, () => button(list, '>').click());
    assert.deepEqual(await rows.allInnerTexts(),
      ['种子日志02 (2020/3/2 9:05:00)', '种子日志01 (2020/3/1 9:05:00)']);
    assert.equal(await list.getByText('2/2', { exact: true }).count(), 1);
    await navigates(list, () => button(list, '|<<').click());
    assert.equal(await rows.count(), 25);
  });

  walk.step('entry-popup', async () => {
    await inPopup('种子日志27', async (popup) => {
      assert.equal(await popup.locator('b').first().innerText(), '种子日志27');
    });
  });

  walk.step('logon', async () => {
    adminPage = walk.page = await opensWindow(visitor,
      () => home.getByRole('link', { name: '管理' }).click());
    assert.equal(await titleBar(adminPage), '登陆');
    await fill({ username: admin.user, password: 'not-the-password' });
    assert.equal(await press('确 定'), '登陆错误');
    assert.equal(await press('返 回'), '登陆');
    await fill({ username: admin.user, password: admin.password });
    assert.equal(await press('确 定'), '控制面板');
  });

  const added = {
    title: '浏览器里写的日志',
    content: '这一行有[b]粗体[/b]和[i]斜体[/i]，\n还有[c red]红字[/c]。',
  };

  walk.step('add-entry', async () => {
    assert.equal(await fromControlPanel('增加日志'), '增加日志');
    await fill(added);
    assert.equal(await press('确 定'), '成功增加日志');
    // The browser posts the text area's line break as CR LF, which is stored as a break.
    assert.equal(entry(added.title).CONTENT,
      '这一行有<b>粗体</b>和<em>斜体</em>，<br>还有<font color=red>红字</font><!-- [c] -->。');
    assert.equal(await press('返 回'), '控制面板');
  });

  walk.step('entry-in-block-and-list', async () => {
    walk.page = home;
    await home.reload();
    assert.match(await home.locator('div.news li').first().innerText(), /^浏览器里写的日志 \(/);
    await inPopup(added.title, async (popup) => {
      const content = popup.locator('p').first();
      assert.equal(await content.innerText(), '这一行有粗体和斜体，\n还有红字。');
      assert.equal(await content.locator('b').innerText(), '粗体');
      assert.equal(await content.locator('font').evaluate((font) => getComputedStyle(font).color),
        'rgb(255, 0, 0)');
    });
  });

  // A browser drops a line break that opens a text area's content; the form must keep this one.
const edited = { title: "Tom's 日志", content: '\n示例：</textarea>之后 & "引号"\n[b]仍是粗体[/b]' };

  walk.step('edit-apostrophe-and-textarea', async () => {
    walk.page = adminPage;
    const { ID: id } = entry(added.title);
    await openEditForm(id);
    await fill(edited);
    assert.equal(await press('确 定'), '编辑成功');
    const saved = entry(id);

    // Both fields come back into the form as typed, and saving them unchanged keeps them.
    await editListToControlPanel();
    await openEditForm(id);
    assert.deepEqual({
      title: await adminPage.locator("input[name='title']").inputValue(),
      content: await adminPage.locator("textarea[name='content']").inputValue(),
    }, edited);
    assert.equal(await press('确 定'), '编辑成功');
    assert.deepEqual(entry(id), saved);

    // The list writes the stored title as it is, its apostrophe doubled.
    await inPopup(/^Tom''s/, async (popup) => {
      const content = popup.locator('p').first();
      // The stored texts write every space as &nbsp;.
      assert.equal((await content.innerText()).replaceAll('\u00a0', ' '),
        '\n示例：</textarea>之后 & "引号"\n仍是粗体');
      assert.equal(await content.locator('b').innerText(), '仍是粗体');
    });
  });

  walk.step('delete-two-entries', async () => {
    await editListToControlPanel();
    await fromControlPanel('删除日志');
    const rows = adminPage.locator('li'); // oldest first
    await rows.nth(0).getByRole('checkbox').check();
    await rows.nth(1).getByRole('checkbox').check();
    assert.equal(await press('删 除'), '成功删除日志');
    assert.deepEqual(site.sql("SELECT count(*) AS n, sum(TITLE IN ('种子日志01', '种子日志02')) AS " +
      'gone FROM MESSAGE'), [{ n: seeded - 1, gone: 0 }]);
    assert.equal(await press('返 回'), '控制面板');
  });

  // Sends `picture` through the upload form's file input; the confirmation shows it.
  async function upload(picture) {
    await adminPage.locator("input[type='file'][name='image']").setInputFiles(picture);
    assert.equal(await press('确 定'), '图片上传成功');
    assert.deepEqual(await naturalSize(adminPage.locator('img')), [picture.width, picture.height]);
    assert.equal(site.sql(`SELECT hex(DATA) AS d FROM IMAGE WHERE NAME = '${picture.name}'`)[0].d,
      picture.buffer.toString('hex').toUpperCase());
  }

  walk.step('upload-gif-and-jpeg', async () => {
    assert.equal(await fromControlPanel('图片管理'), '没有可供管理的图片');
    await navigates(adminPage, () => adminPage.getByRole('link', { name: '上传图片' }).click());
    await upload(gif);
    await navigates(adminPage, () => adminPage.getByRole('link', { name: '继续上传图片' }).click());
    await upload(jpeg);
    assert.equal(await press('返 回'), '图片名称');
    assert.deepEqual(await adminPage.getByRole('link').allInnerTexts(), [gif.name, jpeg.name]);
  });

  const pictured = { title: '带图片的日志', content: `看这张图：[img ${gif.name}]` };

  walk.step('picture-in-entry', async () => {
    assert.equal(await press('返 回'), '控制面板');
    await fromControlPanel('增加日志');
    await fill(pictured);
    assert.equal(await press('确 定'), '成功增加日志');
    const showsPicture = async (popup) => {
      assert.deepEqual(await naturalSize(popup.locator('p img')), [gif.width, gif.height]);
    };
    await inPopup(pictured.title, showsPicture);

    // An unchanged save writes the picture's address back with "&amp;" for its "&": the same
    // address to a browser.
    assert.equal(await press('返 回'), '控制面板');
    await openEditForm(entry(pictured.title).ID);
    assert.equal(await press('确 定'), '编辑成功');
    await inPopup(pictured.title, showsPicture);
  });

  walk.step('delete-picture', async () => {
    await editListToControlPanel();
    await fromControlPanel('图片管理');
    await adminPage.locator(`xpath=//tr[td/a[.='${jpeg.name}']]//input[@type='checkbox']`).check();
    assert.equal(await press('删除图片'), '成功删除图片');
    assert.equal(await press('返 回'), '图片名称');
    assert.deepEqual(await adminPage.getByRole('link').allInnerTexts(), [gif.name]);
    assert.deepEqual(site.sql('SELECT NAME FROM IMAGE'), [{ NAME: gif.name }]);
  });

  // A page on another port of this host is the same site to the browser, which sends it the
  // webmaster's cookie; what it makes the browser ask for (an image that is a password change,
  // a form that posts itself) is refused and changes nothing, and the real forms still work.
  walk.step('another-origin-changes-nothing', async () => {
    const stored = () => ({
      password: site.sql('SELECT PASSWORD FROM USERTB')[0].PASSWORD,
      entries: site.sql('SELECT count(*) AS N FROM MESSAGE')[0].N,
    });
    const before = stored();
    const board = `${site.url}/log/board?action=admin`;
    const hostile = await servePage(`<!DOCTYPE html><html><body>
      <img src="${board}&do=dopassword&password=hacked1&chkpassword=hacked1">
      <form method="POST" action="${board}&do=doadd">
        <input name="title" value="hacked"><input name="content" value="hacked"></form>
      <script>
        document.querySelector('img').addEventListener('error', () =>
          document.forms[0].submit());
      </script></body></html>`);
    try {
      const page = walk.page = await visitor.newPage();
      // The browser may block the answer as no image (ORB); the request went out either way.
      const image = new Promise((resolve) => {
        const done = (request) => request.url().includes('dopassword') && resolve();
        page.on('requestfinished', done);
        page.on('requestfailed', done);
      });
      const posted = page.waitForEvent('framenavigated',
        (frame) => frame === page.mainFrame() && frame.url().includes('doadd'));
      await page.goto(hostile.url);
      await image;
      await posted;
      await page.waitForLoadState('load');
      assert.equal(await titleBar(page), '非法调试');
      assert.deepEqual(stored(), before);
      await page.close();
    } finally {
      await hostile.close();
    }
    walk.page = adminPage;
  });

  walk.step('change-password', async () => {
    assert.equal(await press('返 回'), '控制面板');
    assert.equal(await fromControlPanel('更改密码'), '更改密码');
    await fill({ password: newPassword, chkpassword: newPassword });
    assert.equal(await press('确 定'), '成功更新');
    // The message's second button closes the admin window, which the home page's link opened.
    await closeWithButton(adminPage);

    // Another browser profile is another visitor, without the webmaster's session.
    const page = walk.page = await (await newVisitor(browser, walk.errors)).newPage();
    const logOn = async (password) => {
      await page.goto(`${site.url}/log/board?action=admin`);
      await page.locator("input[name='username']").fill(admin.user);
      await page.locator("input[name='password']").fill(password);
      await navigates(page, () => button(page, '确 定').click());
      return titleBar(page);
    };
    assert.equal(await logOn(admin.password), '登陆错误');
    assert.equal(await logOn(newPassword), '控制面板');
  });
});
