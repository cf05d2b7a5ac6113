// The English and Chinese tables of the interface texts, keyed by control name.
#include "wizard/language.h"

#include <QStringList>

namespace ferrowane {

const LanguageTable& englishTable()
{
    static const LanguageTable table = {
        {QStringLiteral("Label1"), QStringLiteral("Welcome")},
        {QStringLiteral("Label2"), QStringLiteral("Connect to Mysql server")},
        {QStringLiteral("Label3"), QStringLiteral("Connect to Oracle server")},
        {QStringLiteral("Label4"), QStringLiteral("Conversion Settings")},
        {QStringLiteral("Label5"), QStringLiteral("Select table to convert")},
        {QStringLiteral("Label6"), QStringLiteral("Conversion is Completed")},
        {QStringLiteral("Label7"), QStringLiteral("Welcome to the Database")},
        {QStringLiteral("Label8"), QStringLiteral("Conversion Wizard")},
        {QStringLiteral("Label9"), QStringLiteral("This wizard helps you move Mysql database to Access.")},
        {QStringLiteral("Label10"), QStringLiteral("Click 'Next' to continue.")},
        {QStringLiteral("Label11"), QStringLiteral("Provide necessary information to establish connection with MySQL server.")},
        {QStringLiteral("Label12"), QStringLiteral("&User name:")},
        {QStringLiteral("Label13"), QStringLiteral("&Password:")},
        {QStringLiteral("Label15"), QStringLiteral("&Database :")},
        {QStringLiteral("Label14"), QStringLiteral("H&ost:")},
        {QStringLiteral("edtport111"), QStringLiteral("Por&t number:")},
        {QStringLiteral("Label16"), QStringLiteral("(it could be network name or IP address)")},
        {QStringLiteral("Label17"), QStringLiteral("(Default Mysql Port is 3306)")},
        {QStringLiteral("Label18"), QStringLiteral("Provide the necessary information to establish connection with Oracle server.")},
        {QStringLiteral("Label19"), QStringLiteral("Enter the same values that you specify for standard Oracle applications")},
        {QStringLiteral("Label20"), QStringLiteral("Link Oracle Enterprise Manager Console.")},
        {QStringLiteral("Label21"), QStringLiteral("&Service:")},
        {QStringLiteral("Label22"), QStringLiteral("&User name:")},
        {QStringLiteral("Label23"), QStringLiteral("&Password")},
        {QStringLiteral("Label24"), QStringLiteral("On this page you can specify source database name and conversion settings.")},
        {QStringLiteral("Label25"), QStringLiteral("MySQL d&atabase name:")},
        {QStringLiteral("Label33"), QStringLiteral("Character &Set")},
        {QStringLiteral("Label26"), QStringLiteral("Select MySQL tables to convert into Access format.")},
        {QStringLiteral("Label27"), QStringLiteral("&Available tables:")},
        {QStringLiteral("Label28"), QStringLiteral("S&elected tables:")},
        {QStringLiteral("Label29"), QStringLiteral("Conversion is Completed")},
        {QStringLiteral("Label30"), QStringLiteral("Wizard has migrated your MySQL database to Access successfully.")},
        {QStringLiteral("Label32"), QStringLiteral("Click 'Finish' to exit the wizard.")},
        {QStringLiteral("accessmode"), QStringLiteral("Access mode")},
        {QStringLiteral("processtable"), QStringLiteral("How to process existing tables:")},
        {QStringLiteral("authorization"), QStringLiteral("Authorization settings")},
        {QStringLiteral("GroupBox1"), QStringLiteral("Port settings")},
        {QStringLiteral("GroupBox2"), QStringLiteral("Remote settings")},
        {QStringLiteral("chktabledefi"), QStringLiteral("Convert table definitions only")},
        {QStringLiteral("chkskipindex"), QStringLiteral("Skip converting indexes")},
        {QStringLiteral("chkuppercase"), QStringLiteral("Make names uppercase")},
        {QStringLiteral("chkblobtotext"), QStringLiteral("Convert BLOB to text")},
        {QStringLiteral("helpurl"), QStringLiteral("https://github.com/tarnwick/ferrowane/blob/main/docs/help-en.md")},
        {QStringLiteral("queryclose"), QStringLiteral("Close this Wizard ?")},
        {QStringLiteral("linkmysqlerror"), QStringLiteral("Access denied. Verify the user name and password are correct, and you have the necessary privileges to connect to the target Mysql server.")},
        {QStringLiteral("labelaccessformat"), QStringLiteral("Access &format:")},
        {QStringLiteral("labelaccessname"), QStringLiteral("MS Access database nam&e:")},
        {QStringLiteral("nullaccessname"), QStringLiteral("Please input Access database name")},
        // Messages of the connection and job rules.
        {QStringLiteral("nullhost"), QStringLiteral("Remote mode needs a host name: enter the server's network name or IP address, or choose Local.")},
        {QStringLiteral("samelauncherpath"), QStringLiteral("The shortcut file cannot have the name of its job file or its log file (%1). Choose another name or extension.")},
    };
    return table;
}

const LanguageTable& chineseTable()
{
    static const LanguageTable table = {
        {QStringLiteral("Label1"), QString::fromUtf8("欢迎")},
        {QStringLiteral("Label2"), QString::fromUtf8("连接MYSQL")},
        {QStringLiteral("Label3"), QString::fromUtf8("连接Oracle")},
        {QStringLiteral("Label4"), QString::fromUtf8("设置")},
        {QStringLiteral("Label5"), QString::fromUtf8("选择要转换的表")},
        {QStringLiteral("Label6"), QString::fromUtf8("完成转换")},
        {QStringLiteral("Label7"), QString::fromUtf8("欢迎使用数据库转换向导")},
        {QStringLiteral("Label8"), QString()},
        {QStringLiteral("Label9"), QString::fromUtf8("本向导将实现Mysql的表到Access的转换")},
        {QStringLiteral("Label10"), QString::fromUtf8("点击 '下一步' 按钮进行下一步")},
        {QStringLiteral("Label11"), QString::fromUtf8("请提供连接到Mysql 的必要信息")},
        {QStringLiteral("Label12"), QString::fromUtf8("用户名(&U):")},
        {QStringLiteral("Label13"), QString::fromUtf8("密码(&P):")},
        {QStringLiteral("Label15"), QString::fromUtf8("数据库名称(&D) :")},
        {QStringLiteral("Label14"), QString::fromUtf8("主机(&O):")},
        {QStringLiteral("edtport111"), QString::fromUtf8("端口号(&T):")},
        {QStringLiteral("Label16"), QString::fromUtf8("(网络名称或IP地址)")},
        {QStringLiteral("Label17"), QString::fromUtf8("(MySQL 默认端口为 3306)")},
        {QStringLiteral("Label18"), QString::fromUtf8("请提供连接到Oracle 的必要信息")},
        {QStringLiteral("Label19"), QString()},
        {QStringLiteral("Label20"), QString()},
        {QStringLiteral("Label21"), QString::fromUtf8("Service 名称:")},
        {QStringLiteral("Label22"), QString::fromUtf8("用户名:")},
        {QStringLiteral("Label23"), QString::fromUtf8("密码:")},
        {QStringLiteral("Label24"), QString::fromUtf8("转换设置")},
        {QStringLiteral("Label25"), QString::fromUtf8("MySQL 数据库选择(&A)")},
        {QStringLiteral("Label33"), QString::fromUtf8("字符集(&S)")},
        {QStringLiteral("Label26"), QString::fromUtf8("选择要进行转换的表")},
        {QStringLiteral("Label27"), QString::fromUtf8("Mysql 表(&A)")},
        {QStringLiteral("Label28"), QString::fromUtf8("已选择表(&E)")},
        {QStringLiteral("Label29"), QString::fromUtf8("已经完成转换")},
        {QStringLiteral("Label30"), QString::fromUtf8("向导已经完成Mysql 数据库到Access的转换.")},
        {QStringLiteral("Label32"), QString::fromUtf8("点击 '完成' 离开本向导.")},
        {QStringLiteral("accessmode"), QString::fromUtf8("存取模式")},
        {QStringLiteral("processtable"), QString::fromUtf8("如何处理已经存在的表:")},
        {QStringLiteral("authorization"), QString::fromUtf8("登录设置")},
        {QStringLiteral("GroupBox1"), QString::fromUtf8("端口设置")},
        {QStringLiteral("GroupBox2"), QString::fromUtf8("远程连接设置")},
        {QStringLiteral("chktabledefi"), QString::fromUtf8("只转换表定义(不导入数据)")},
        {QStringLiteral("chkskipindex"), QString::fromUtf8("选中则不处理索引")},
        {QStringLiteral("chkuppercase"), QString::fromUtf8("名称转换为大写")},
        {QStringLiteral("chkblobtotext"), QString::fromUtf8("转换BLOB为TEXT类型")},
        {QStringLiteral("helpurl"), QStringLiteral("https://github.com/tarnwick/ferrowane/blob/main/docs/help-zh.md")},
        {QStringLiteral("queryclose"), QString::fromUtf8("退出向导 ?")},
        {QStringLiteral("linkmysqlerror"), QString::fromUtf8("访问被拒绝。请检查user name和password是否正确, 并且有权限访问该MYSQL数据库.")},
        {QStringLiteral("labelaccessformat"), QString::fromUtf8("Access格式(&F):")},
        {QStringLiteral("labelaccessname"), QString::fromUtf8("MS Access 文件名(&E):")},
        {QStringLiteral("nullaccessname"), QString::fromUtf8("请输入Access文件名")},
        // Messages of the connection and job rules.
        {QStringLiteral("nullhost"), QString::fromUtf8("远程模式需要主机名: 请输入服务器的网络名称或IP地址, 或者选择本地模式.")},
        {QStringLiteral("samelauncherpath"), QString::fromUtf8("快捷方式文件不能与它的设置文件或日志文件同名 (%1). 请选择其他名称或扩展名.")},
    };
    return table;
}

// The texts outside the two tables above: captions of buttons and radio
// items, messages, the run's progress captions, the help window and the
// shortcut-file window. Same keys, same order in both languages.
const LanguageTable& englishOtherTexts()
{
    static const LanguageTable table = {
        {QStringLiteral("btback"), QStringLiteral("< &Back")},
        {QStringLiteral("btnext"), QStringLiteral("&Next >")},
        {QStringLiteral("finish"), QStringLiteral("&Finish")},
        {QStringLiteral("btcancel"), QStringLiteral("&Close")},
        {QStringLiteral("stop"), QStringLiteral("&Stop")},
        {QStringLiteral("cancelconnect"), QStringLiteral("&Cancel")},
        {QStringLiteral("bthelp"), QStringLiteral("&Help")},
        {QStringLiteral("labellanguage"), QStringLiteral("Lan&guage:")},
        {QStringLiteral("accessmode0"), QStringLiteral("&Local")},
        {QStringLiteral("accessmode1"), QStringLiteral("&Remote")},
        {QStringLiteral("chkrememberpassword"), QStringLiteral("Remember pass&word")},
        {QStringLiteral("processtable0"), QStringLiteral("&Overwrite")},
        {QStringLiteral("processtable1"), QStringLiteral("&Merge")},
        {QStringLiteral("processtable2"), QStringLiteral("&Skip")},
        {QStringLiteral("btbrowse"), QStringLiteral("B&rowse...")},
        {QStringLiteral("Button1"), QStringLiteral("A&dd >")},
        {QStringLiteral("Button2"), QStringLiteral("Add a&ll >")},
        {QStringLiteral("Button3"), QStringLiteral("< &Remove")},
        {QStringLiteral("Button4"), QStringLiteral("< Rem&ove all")},
        {QStringLiteral("btcreatebat"), QStringLiteral("Create Shortcut &File")},
        {QStringLiteral("information"), QStringLiteral("Information")},
        {QStringLiteral("info"), QStringLiteral("Info")},
        {QStringLiteral("querystop"), QStringLiteral("Stop")},
        {QStringLiteral("enterdatabase"), QStringLiteral("Please enter database name")},
        {QStringLiteral("choosedatabase"), QStringLiteral("Please choose a MySQL database in the list.")},
        {QStringLiteral("logunwritable"), QStringLiteral("Cannot write the log file %1.")},
        {QStringLiteral("yes"), QStringLiteral("&Yes")},
        {QStringLiteral("no"), QStringLiteral("&No")},
        {QStringLiteral("ok"), QStringLiteral("OK")},
        {QStringLiteral("savedialogtitle"), QStringLiteral("MS Access database")},
        {QStringLiteral("savedialogfilter"), QStringLiteral("MS Access Databases (.mdb)")},
        {QStringLiteral("progresstable"), QStringLiteral("Table %1 of %2")},
        {QStringLiteral("progressrows"), QStringLiteral("%1: %2 / %3 rows")},
        {QStringLiteral("progressrowsunknown"), QStringLiteral("%1: %2 rows")},
        {QStringLiteral("progressrate"), QStringLiteral("%1 rows/s")},
        {QStringLiteral("progresselapsed"), QStringLiteral("elapsed %1")},
        {QStringLiteral("progressremaining"), QStringLiteral("remaining %1")},
        {QStringLiteral("summary"), QStringLiteral("Tables: %1 of %2 converted, %3 failed. Rows: %4. Time: %5.")},
        {QStringLiteral("summarylost"), QStringLiteral("Values not stored as they were: %1.")},
        {QStringLiteral("summarystopped"), QStringLiteral("Stopped before the end.")},
        {QStringLiteral("helptitle"), QStringLiteral("Ferrowane Help")},
        {QStringLiteral("helponline"), QStringLiteral("Online help:")},
        {QStringLiteral("bat.title"), QStringLiteral("Shortcut File")},
        {QStringLiteral("bat.gpmysql"), QStringLiteral("Connect Mysql Server")},
        {QStringLiteral("bat.host"), QStringLiteral("IP address or network name")},
        {QStringLiteral("bat.database"), QStringLiteral("MySQL database name")},
        {QStringLiteral("bat.port"), QStringLiteral("MySQL Port")},
        {QStringLiteral("bat.user"), QStringLiteral("MySQL user name")},
        {QStringLiteral("bat.password"), QStringLiteral("MySQL user password")},
        {QStringLiteral("bat.charset"), QStringLiteral("Character Set")},
        {QStringLiteral("bat.GroupBox3"), QStringLiteral("Access Database")},
        {QStringLiteral("bat.accessformat"), QStringLiteral("Access format:")},
        {QStringLiteral("bat.accessname"), QStringLiteral("MS Access database name:")},
        {QStringLiteral("bat.existing"), QStringLiteral("Process existing tables")},
        {QStringLiteral("bat.GroupBox2"), QStringLiteral("Conversion Settings.")},
        {QStringLiteral("bat.chktabledefi"), QStringLiteral("Convert table definitions only")},
        {QStringLiteral("bat.chkskipindex"), QStringLiteral("Skip converting indexes")},
        {QStringLiteral("bat.chkblobtotext"), QStringLiteral("Convert BLOB to text")},
        {QStringLiteral("bat.rgselecttable"), QStringLiteral("Select MySQL tables")},
        {QStringLiteral("bat.selected"), QStringLiteral("Selected tables")},
        {QStringLiteral("bat.all"), QStringLiteral("All database tables")},
        {QStringLiteral("bat.bttableselect"), QStringLiteral("Reselect tables")},
        {QStringLiteral("bat.Button1"), QStringLiteral("Create Shortcut File")},
        {QStringLiteral("bat.reselect"), QStringLiteral("This form will be closed.\rAfter you finish your choice,please click the button \"Create Shortcut File\" to return to this form.")},
        {QStringLiteral("bat.success"), QStringLiteral("Success to create \"%1\".\rCreate setting file \"%2\" OK.\rIt will build a log file \"%3\" after running with this Shortcut File.")},
    };
    return table;
}

const LanguageTable& chineseOtherTexts()
{
    static const LanguageTable table = {
        {QStringLiteral("btback"), QString::fromUtf8("< 上一步(&B)")},
        {QStringLiteral("btnext"), QString::fromUtf8("下一步(&N) >")},
        {QStringLiteral("finish"), QString::fromUtf8("完成(&F)")},
        {QStringLiteral("btcancel"), QString::fromUtf8("关闭(&C)")},
        {QStringLiteral("stop"), QString::fromUtf8("停止(&S)")},
        {QStringLiteral("cancelconnect"), QString::fromUtf8("取消(&C)")},
        {QStringLiteral("bthelp"), QString::fromUtf8("帮助(&H)")},
        {QStringLiteral("labellanguage"), QString::fromUtf8("语言(&G):")},
        {QStringLiteral("accessmode0"), QString::fromUtf8("本地(&L)")},
        {QStringLiteral("accessmode1"), QString::fromUtf8("远程(&R)")},
        {QStringLiteral("chkrememberpassword"), QString::fromUtf8("记住密码(&W)")},
        {QStringLiteral("processtable0"), QString::fromUtf8("覆盖(&O)")},
        {QStringLiteral("processtable1"), QString::fromUtf8("合并(&M)")},
        {QStringLiteral("processtable2"), QString::fromUtf8("跳过(&S)")},
        {QStringLiteral("btbrowse"), QString::fromUtf8("浏览(&R)...")},
        {QStringLiteral("Button1"), QString::fromUtf8("添加(&D)>")},
        {QStringLiteral("Button2"), QString::fromUtf8("添加全部(&L)>")},
        {QStringLiteral("Button3"), QString::fromUtf8("<去除(&R)")},
        {QStringLiteral("Button4"), QString::fromUtf8("<去除全部(&O)")},
        {QStringLiteral("btcreatebat"), QString::fromUtf8("创建快捷方式(&F)")},
        {QStringLiteral("information"), QString::fromUtf8("信息")},
        {QStringLiteral("info"), QString::fromUtf8("信息")},
        {QStringLiteral("querystop"), QString::fromUtf8("停止转换 ?")},
        {QStringLiteral("enterdatabase"), QString::fromUtf8("请输入数据库名称")},
        {QStringLiteral("choosedatabase"), QString::fromUtf8("请在列表中选择一个 MySQL 数据库。")},
        {QStringLiteral("logunwritable"), QString::fromUtf8("无法写入日志文件 %1。")},
        {QStringLiteral("yes"), QString::fromUtf8("是(&Y)")},
        {QStringLiteral("no"), QString::fromUtf8("否(&N)")},
        {QStringLiteral("ok"), QString::fromUtf8("确定")},
        {QStringLiteral("savedialogtitle"), QString::fromUtf8("MS Access 数据库")},
        {QStringLiteral("savedialogfilter"), QString::fromUtf8("MS Access 数据库 (.mdb)")},
        {QStringLiteral("progresstable"), QString::fromUtf8("第 %1 个表，共 %2 个")},
        {QStringLiteral("progressrows"), QString::fromUtf8("%1：%2 / %3 行")},
        {QStringLiteral("progressrowsunknown"), QString::fromUtf8("%1：%2 行")},
        {QStringLiteral("progressrate"), QString::fromUtf8("%1 行/秒")},
        {QStringLiteral("progresselapsed"), QString::fromUtf8("已用 %1")},
        {QStringLiteral("progressremaining"), QString::fromUtf8("剩余 %1")},
        {QStringLiteral("summary"), QString::fromUtf8("表：%2 个中转换 %1 个，失败 %3 个。记录：%4 行。用时：%5。")},
        {QStringLiteral("summarylost"), QString::fromUtf8("未按原样保存的值：%1 个。")},
        {QStringLiteral("summarystopped"), QString::fromUtf8("转换在结束前被停止。")},
        {QStringLiteral("helptitle"), QString::fromUtf8("Ferrowane 帮助")},
        {QStringLiteral("helponline"), QString::fromUtf8("在线帮助：")},
        {QStringLiteral("bat.title"), QString::fromUtf8("快捷方式文件")},
        {QStringLiteral("bat.gpmysql"), QString::fromUtf8("连接 MySQL 服务器")},
        {QStringLiteral("bat.host"), QString::fromUtf8("IP 地址或网络名称")},
        {QStringLiteral("bat.database"), QString::fromUtf8("MySQL 数据库名称")},
        {QStringLiteral("bat.port"), QString::fromUtf8("MySQL 端口")},
        {QStringLiteral("bat.user"), QString::fromUtf8("MySQL 用户名")},
        {QStringLiteral("bat.password"), QString::fromUtf8("MySQL 用户密码")},
        {QStringLiteral("bat.charset"), QString::fromUtf8("字符集")},
        {QStringLiteral("bat.GroupBox3"), QString::fromUtf8("Access 数据库")},
        {QStringLiteral("bat.accessformat"), QString::fromUtf8("Access格式:")},
        {QStringLiteral("bat.accessname"), QString::fromUtf8("MS Access 文件名:")},
        {QStringLiteral("bat.existing"), QString::fromUtf8("如何处理已经存在的表")},
        {QStringLiteral("bat.GroupBox2"), QString::fromUtf8("转换设置")},
        {QStringLiteral("bat.chktabledefi"), QString::fromUtf8("只转换表定义(不导入数据)")},
        {QStringLiteral("bat.chkskipindex"), QString::fromUtf8("选中则不处理索引")},
        {QStringLiteral("bat.chkblobtotext"), QString::fromUtf8("转换BLOB为TEXT类型")},
        {QStringLiteral("bat.rgselecttable"), QString::fromUtf8("选择 MySQL 表")},
        {QStringLiteral("bat.selected"), QString::fromUtf8("已选择的表")},
        {QStringLiteral("bat.all"), QString::fromUtf8("数据库的全部表")},
        {QStringLiteral("bat.bttableselect"), QString::fromUtf8("重新选择表(&R)")},
        {QStringLiteral("bat.Button1"), QString::fromUtf8("创建快捷方式(&C)")},
        {QStringLiteral("bat.reselect"), QString::fromUtf8("本窗口将关闭。\r选择完成后，请点击\"创建快捷方式\"按钮回到本窗口。")},
        {QStringLiteral("bat.success"), QString::fromUtf8("已创建\"%1\"。\r已创建设置文件\"%2\"。\r用此快捷方式运行后会生成日志文件\"%3\"。")},
    };
    return table;
}

QString tableText(const LanguageTable& table, const QString& key)
{
    for (const auto& [name, text] : table)
        if (name == key)
            return text;
    return QString();
}

QStringList tableLines(const LanguageTable& table)
{
    QStringList lines;
    for (const auto& [name, text] : table)
        lines.append(name + u'=' + text);
    return lines;
}

}  // namespace ferrowane
