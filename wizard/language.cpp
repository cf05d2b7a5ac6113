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
        {QStringLiteral("Label12"), QStringLiteral("User name:")},
        {QStringLiteral("Label13"), QStringLiteral("Password:")},
        {QStringLiteral("Label15"), QStringLiteral("Database :")},
        {QStringLiteral("Label14"), QStringLiteral("Host:")},
        {QStringLiteral("edtport111"), QStringLiteral("Port number:")},
        {QStringLiteral("Label16"), QStringLiteral("(it could be network name or IP address)")},
        {QStringLiteral("Label17"), QStringLiteral("(Default Mysql Port is 3306)")},
        {QStringLiteral("Label18"), QStringLiteral("Provide the necessary information to establish connection with Oracle server.")},
        {QStringLiteral("Label19"), QStringLiteral("Enter the same values that you specify for standard Oracle applications")},
        {QStringLiteral("Label20"), QStringLiteral("Link Oracle Enterprise Manager Console.")},
        {QStringLiteral("Label21"), QStringLiteral("&Service:")},
        {QStringLiteral("Label22"), QStringLiteral("&User name:")},
        {QStringLiteral("Label23"), QStringLiteral("&Password")},
        {QStringLiteral("Label24"), QStringLiteral("On this page you can specify source database name and conversion settings.")},
        {QStringLiteral("Label25"), QStringLiteral("MySQL database name:")},
        {QStringLiteral("Label33"), QStringLiteral("Character Set")},
        {QStringLiteral("Label26"), QStringLiteral("Select MySQL tables to convert into Oracle format.")},
        {QStringLiteral("Label27"), QStringLiteral("Available tables:")},
        {QStringLiteral("Label28"), QStringLiteral("Selected tables:")},
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
        {QStringLiteral("labelaccessformat"), QStringLiteral("Access format:")},
        {QStringLiteral("labelaccessname"), QStringLiteral("MS Access database name:")},
        {QStringLiteral("nullaccessname"), QStringLiteral("Please input Access database name")},
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
        {QStringLiteral("Label10"), QString::fromUtf8("点击 'Next' 按钮进行下一步")},
        {QStringLiteral("Label11"), QString::fromUtf8("请提供连接到Mysql 的必要信息")},
        {QStringLiteral("Label12"), QString::fromUtf8("用户名:")},
        {QStringLiteral("Label13"), QString::fromUtf8("密码:")},
        {QStringLiteral("Label15"), QString::fromUtf8("数据库名称 :")},
        {QStringLiteral("Label14"), QStringLiteral("Host:")},
        {QStringLiteral("edtport111"), QString::fromUtf8("端口号:")},
        {QStringLiteral("Label16"), QString::fromUtf8("(网络名称或IP地址)")},
        {QStringLiteral("Label17"), QStringLiteral("(Default Mysql Port is 3306)")},
        {QStringLiteral("Label18"), QString::fromUtf8("请提供连接到Oracle 的必要信息")},
        {QStringLiteral("Label19"), QString()},
        {QStringLiteral("Label20"), QString()},
        {QStringLiteral("Label21"), QString::fromUtf8("Service 名称:")},
        {QStringLiteral("Label22"), QString::fromUtf8("用户名:")},
        {QStringLiteral("Label23"), QString::fromUtf8("密码:")},
        {QStringLiteral("Label24"), QString::fromUtf8("转换设置")},
        {QStringLiteral("Label25"), QString::fromUtf8("MySQL 数据库选择")},
        {QStringLiteral("Label33"), QString::fromUtf8("字符集")},
        {QStringLiteral("Label26"), QString::fromUtf8("选择要进行转换的表")},
        {QStringLiteral("Label27"), QString::fromUtf8("Mysql 表")},
        {QStringLiteral("Label28"), QString::fromUtf8("已选择表")},
        {QStringLiteral("Label29"), QString::fromUtf8("已经完成转换")},
        {QStringLiteral("Label30"), QString::fromUtf8("向导已经完成Mysql 数据库到Access的转换.")},
        {QStringLiteral("Label32"), QString::fromUtf8("点击 'Finish' 离开本向导.")},
        {QStringLiteral("accessmode"), QString::fromUtf8("存取模式")},
        {QStringLiteral("processtable"), QString::fromUtf8("如何处理已经存在的表:")},
        {QStringLiteral("authorization"), QString::fromUtf8("登陆设置")},
        {QStringLiteral("GroupBox1"), QStringLiteral("Port settings")},
        {QStringLiteral("GroupBox2"), QString::fromUtf8("远程连接设置")},
        {QStringLiteral("chktabledefi"), QString::fromUtf8("只转换表定义(不导入数据)")},
        {QStringLiteral("chkskipindex"), QString::fromUtf8("选中则不处理索引")},
        {QStringLiteral("chkuppercase"), QString::fromUtf8("名称转换为大写")},
        {QStringLiteral("chkblobtotext"), QString::fromUtf8("转换BLOB为TEXT类型")},
        {QStringLiteral("helpurl"), QStringLiteral("https://github.com/tarnwick/ferrowane/blob/main/docs/help-zh.md")},
        {QStringLiteral("queryclose"), QString::fromUtf8("退出向导 ?")},
        {QStringLiteral("linkmysqlerror"), QString::fromUtf8("访问被拒绝。请检查user name和password是否正确, 并且有权限访问该MYSQL数据库.")},
        {QStringLiteral("labelaccessformat"), QString::fromUtf8("Access格式:")},
        {QStringLiteral("labelaccessname"), QString::fromUtf8("MS Access 文件名:")},
        {QStringLiteral("nullaccessname"), QString::fromUtf8("请输入Access文件名")},
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
