#pragma once

// Every text the window and the progress window show, in one place. UTF-8; "%1" marks where a
// name or a figure goes.
namespace Messages {

// The window.
inline constexpr char kCaption[] = "Vardelo1.0         Pemrik工作室";
inline constexpr char kServerLabel[] = "服务名";
inline constexpr char kUserLabel[] = "登录名";
inline constexpr char kPasswordLabel[] = "密码";
inline constexpr char kListLabel[] = "文件目录列表";
inline constexpr char kConnectButton[] = "连接";
inline constexpr char kRefreshButton[] = "刷新";
inline constexpr char kUploadButton[] = "上传";
inline constexpr char kDownloadButton[] = "下载";
inline constexpr char kExitButton[] = "退出";
inline constexpr char kMakerLine[] = "Made by Pemrik工作室制作";
inline constexpr char kMakerAddress[] = "www.pemrik.example";

// Connect, Refresh and entering a directory.
inline constexpr char kConnectFailed[] = "无法连接！";
inline constexpr char kConnectSucceeded[] = "连接成功！"; // the server text follows
inline constexpr char kRefreshFailed[] = "无法刷新！";
inline constexpr char kRefreshSucceeded[] = "刷新成功！";
inline constexpr char kDirectoryFailed[] = "无法打开目录！";

// Upload.
inline constexpr char kUploadSucceeded[] = "上传成功！";
inline constexpr char kUploadFailed[] = "上传失败！";
inline constexpr char kNoFileChosen[] = "请选择文件！";

// Download.
inline constexpr char kDownloadSucceeded[] = "下载成功!";
inline constexpr char kDownloadFailed[] = "下载失败!";
inline constexpr char kNoLineSelected[] = "请选择要下载的文件!";
inline constexpr char kDirectoryNotDownloadable[] = "不能下载目录，请重新选择!";
inline constexpr char kNoLocalName[] = "请输入文件名!";
inline constexpr char kUntitled[] = "未命名"; // offered for a name that cannot be a local one

// The progress window.
inline constexpr char kConnecting[] = "正在连接 %1 …";
inline constexpr char kOpeningDirectory[] = "正在打开目录 %1 …";
inline constexpr char kReadingListing[] = "正在读取目录列表 …";
inline constexpr char kUploading[] = "正在上传 %1 …";
inline constexpr char kDownloading[] = "正在下载 %1 …";
inline constexpr char kCancelButton[] = "取消";
inline constexpr char kCancelling[] = "正在取消 …";
inline constexpr char kEntriesRead[] = "已读取 %1 项";
inline constexpr char kBytesDone[] = "已完成 %1";
inline constexpr char kBytesTotal[] = " / %1";
inline constexpr char kSpeed[] = "，速度 %1/s";
inline constexpr char kTimeLeft[] = "，剩余约 %1 秒";
inline constexpr char kEncrypted[] = "已加密（TLS 1.%1）";
inline constexpr char kNotEncrypted[] = "未加密";
inline constexpr char kEncryptedSsh[] = "已加密（SSH）";

// A server certificate that did not verify: which server, why, and the certificate.
inline constexpr char kCertificateQuestion[] =
    "服务器 %1 的证书无法验证：%2。\n\n"
    "主题：%3\n签发者：%4\n有效期：%5 至 %6\nSHA-256 指纹：%7\n\n"
    "是否仅在本次运行中信任此证书？";
inline constexpr char kCertificateSelfSigned[] = "证书是自签名的";
inline constexpr char kCertificateUnknownIssuer[] = "证书的签发者不受信任";
inline constexpr char kCertificateExpired[] = "证书已过期";
inline constexpr char kCertificateNotYetValid[] = "证书尚未生效";
inline constexpr char kCertificateWrongName[] = "证书上的名称与服务器不符";
inline constexpr char kCertificateOther[] = "证书未通过验证";
inline constexpr char kTrustForThisRun[] = "仅本次运行信任";
inline constexpr char kCertificateChanged[] =
    "服务器 %1 的证书与本次运行中早先信任的证书不同，连接已中止！";

// An SSH server key that no known-hosts file names (server, key type, "SHA256:" fingerprint), and
// one that differs from the key known or trusted.
inline constexpr char kHostKeyQuestion[] = "服务器 %1 的 SSH 主机密钥不在已知主机列表中。\n\n"
                                           "密钥类型：%2\n指纹：%3\n\n"
                                           "是否仅在本次运行中信任此密钥？";
inline constexpr char kHostKeyChanged[] =
    "服务器 %1 的 SSH 主机密钥与已知或本次运行中早先信任的密钥不同，连接已中止！";

} // namespace Messages
