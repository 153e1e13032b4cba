#include "windows/InputPermissionsHelp.h"

#include <QDir>
#include <QSaveFile>

namespace vocalynx {

namespace {
// The page, in Chinese and English.
const char kPage[] = R"HTML(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<title>Vocalynx：输入权限 / Input permissions</title>
<style>
body { font-family: "Noto Sans CJK SC", sans-serif; max-width: 42em; margin: 2em auto; line-height: 1.6; padding: 0 1em; }
code { background: #f0f0f0; padding: 0 .3em; border-radius: 3px; }
</style>
</head>
<body>
<h1>让 Vocalynx 把文字输入到其他应用</h1>
<p>Vocalynx 通过 X11 的 XTEST 扩展发送键盘事件，把语音转写的文字输入到当前拥有键盘焦点的应用中。
Linux 没有单独的“辅助功能”开关；只要满足下面两个条件，Vocalynx 就能输入文字：</p>
<ol>
<li>Vocalynx 运行在 X11 会话中（Wayland 会话需要 XWayland，并且环境变量 <code>DISPLAY</code> 已设置）。</li>
<li>X 服务器提供 XTEST 扩展。可以用 <code>xdpyinfo | grep XTEST</code> 检查；大多数发行版默认启用。</li>
</ol>
<p>满足条件后重新启动 Vocalynx 即可。</p>

<h1 lang="en">Letting Vocalynx type into other applications</h1>
<p lang="en">Vocalynx types the transcribed text into the focused application by posting key events
through the XTEST extension of the X server. Linux has no separate accessibility switch for this;
typing works when both of these hold:</p>
<ol lang="en">
<li>Vocalynx runs in an X11 session (on Wayland, through XWayland with <code>DISPLAY</code> set).</li>
<li>The X server offers the XTEST extension; check with <code>xdpyinfo | grep XTEST</code>. Most
distributions enable it by default.</li>
</ol>
<p lang="en">Then start Vocalynx again.</p>
</body>
</html>
)HTML";
}  // namespace

QUrl inputPermissionsHelpAddress(const Paths& paths) {
    const QString folder = paths.appSupport + QStringLiteral("/help");
    const QString path = folder + QStringLiteral("/input-permissions.html");
    QDir().mkpath(folder);
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(kPage, qint64(sizeof(kPage) - 1));
        file.commit();
    }
    return QUrl::fromLocalFile(path);
}

}  // namespace vocalynx
