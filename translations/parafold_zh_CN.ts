<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>ChineseConfig</name>
    <message>
        <source>Traditional → simplified</source>
        <translation>繁体→简体</translation>
    </message>
    <message>
        <source>Simplified → traditional</source>
        <translation>简体→繁体</translation>
    </message>
    <message>
        <source>Simplified → Taiwan traditional (with phrases)</source>
        <translation>简体→台湾正体(含词汇)</translation>
    </message>
    <message>
        <source>Simplified → Hong Kong traditional</source>
        <translation>简体→香港繁体</translation>
    </message>
    <message>
        <source>Taiwan traditional → simplified (with phrases)</source>
        <translation>台湾正体→简体(含词汇)</translation>
    </message>
    <message>
        <source>Hong Kong traditional → simplified</source>
        <translation>香港繁体→简体</translation>
    </message>
</context>
<context>
    <name>ChineseConverter</name>
    <message>
        <source>no conversion %1</source>
        <translation>没有 %1 这种转换</translation>
    </message>
    <message>
        <source>the OpenCC file %1 is damaged</source>
        <translation>OpenCC 文件 %1 已损坏</translation>
    </message>
    <message>
        <source>OpenCC cannot load %1: %2</source>
        <translation>OpenCC 无法载入 %1:%2</translation>
    </message>
    <message>
        <source>OpenCC&apos;s dictionaries for %1 are not in %2</source>
        <translation>在 %2 中找不到 %1 的 OpenCC 词典</translation>
    </message>
    <message>
        <source>this build has no simplified/traditional conversion</source>
        <translation>此版本不含简繁转换</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>a command is missing</source>
        <translation>缺少命令</translation>
    </message>
    <message>
        <source>unknown command &apos;%1&apos;</source>
        <translation>未知命令 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>PLAN is missing</source>
        <translation>缺少 PLAN</translation>
    </message>
    <message>
        <source>SOURCE is missing</source>
        <translation>缺少 SOURCE</translation>
    </message>
    <message>
        <source>unexpected argument &apos;%1&apos;</source>
        <translation>多余的参数 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>unknown option &apos;%1&apos;</source>
        <translation>未知选项 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>%1 takes no value</source>
        <translation>%1 不带值</translation>
    </message>
    <message>
        <source>unknown option &apos;-%1&apos;</source>
        <translation>未知选项 &apos;-%1&apos;</translation>
    </message>
    <message>
        <source>%1 needs a value</source>
        <translation>%1 需要一个值</translation>
    </message>
    <message>
        <source>%1 does not apply to the command &apos;%2&apos;</source>
        <translation>%1 不适用于命令 &apos;%2&apos;</translation>
    </message>
    <message>
        <source>%1 is given twice</source>
        <translation>%1 给出了两次</translation>
    </message>
    <message>
        <source>%1: the value is not valid %2 text</source>
        <translation>%1:该值不是有效的 %2 文本</translation>
    </message>
    <message>
        <source>--context needs a number of lines</source>
        <translation>--context 需要一个行数</translation>
    </message>
    <message>
        <source>%1: &apos;%2&apos; is none of %3</source>
        <translation>%1:&apos;%2&apos; 不是 %3 之一</translation>
    </message>
    <message>
        <source>%1 is missing</source>
        <translation>缺少 %1</translation>
    </message>
    <message>
        <source>--list cannot be combined with --run or --dry-run</source>
        <translation>--list 不能与 --run 或 --dry-run 同用</translation>
    </message>
    <message>
        <source>--run needs the name of a run (see --list)</source>
        <translation>--run 需要一次修改的名称(见 --list)</translation>
    </message>
    <message>
        <source>--diff and --plan write nothing, so they take neither --dry-run nor --report</source>
        <translation>--diff 和 --plan 不写入任何东西,因此不能与 --dry-run 或 --report 同用</translation>
    </message>
    <message>
        <source>--plan needs a file name</source>
        <translation>--plan 需要一个文件名</translation>
    </message>
    <message>
        <source>give exactly one of --text and --text-file</source>
        <translation>--text 和 --text-file 须给出且只给出一个</translation>
    </message>
    <message>
        <source>give exactly one of --save-dir and --in-place</source>
        <translation>--save-dir 和 --in-place 须给出且只给出一个</translation>
    </message>
    <message>
        <source>--dry-run writes nothing, so it cannot write --report</source>
        <translation>--dry-run 不写入任何东西,因此不能写 --report</translation>
    </message>
    <message>
        <source>--rules and --find-file/--replace-file exclude each other</source>
        <translation>--rules 与 --find-file/--replace-file 不能同时使用</translation>
    </message>
</context>
<context>
    <name>ConvertTab</name>
    <message>
        <source>UTF-8 (with BOM)</source>
        <translation>UTF-8(带BOM)</translation>
    </message>
    <message>
        <source>UTF-16LE (with BOM)</source>
        <translation>UTF-16LE(带BOM)</translation>
    </message>
    <message>
        <source>Save the files GBK cannot hold in GB18030</source>
        <translation>GBK无法表示的文件用GB18030保存</translation>
    </message>
    <message>
        <source>Target encoding:</source>
        <translation>目标编码:</translation>
    </message>
    <message>
        <source>Detect</source>
        <translation>自动识别</translation>
    </message>
    <message>
        <source>Source encoding:</source>
        <translation>源文件编码:</translation>
    </message>
    <message>
        <source>Keep</source>
        <translation>保持不变</translation>
    </message>
    <message>
        <source>Line ends:</source>
        <translation>换行符:</translation>
    </message>
    <message>
        <source>Convert encoding</source>
        <translation>转换编码</translation>
    </message>
    <message>
        <source>Save to: </source>
        <translation>保存到:</translation>
    </message>
    <message>
        <source>Source folder: </source>
        <translation>源文件夹:</translation>
    </message>
    <message>
        <source>
(the folders are chosen on the Settings page)</source>
        <translation>
(文件夹在“软件设置”页选择)</translation>
    </message>
    <message>
        <source>Save in the source folder (back up!)</source>
        <translation>保存在原文件夹(注意备份)</translation>
    </message>
    <message>
        <source>Simplified/traditional conversion</source>
        <translation>简繁转换</translation>
    </message>
    <message>
        <source>Convert characters</source>
        <translation>转换简繁</translation>
    </message>
</context>
<context>
    <name>Failure</name>
    <message>
        <source>cannot read the file</source>
        <translation>无法读取文件</translation>
    </message>
    <message>
        <source>the file&apos;s encoding is broken; rewriting it would damage it</source>
        <translation>文件编码有误,改写会损坏内容</translation>
    </message>
    <message>
        <source>not a text file</source>
        <translation>不是文本文件</translation>
    </message>
    <message>
        <source>the new content cannot be saved in the file&apos;s own encoding</source>
        <translation>新内容无法用文件原有编码保存</translation>
    </message>
    <message>
        <source>cannot create the folder in the save location</source>
        <translation>无法创建保存位置的文件夹</translation>
    </message>
    <message>
        <source>cannot write the target file</source>
        <translation>无法写入目标文件</translation>
    </message>
    <message>
        <source>the target is the source file itself; not overwritten</source>
        <translation>目标是源文件本身,未覆盖</translation>
    </message>
    <message>
        <source>the target is another source file; not overwritten</source>
        <translation>目标是另一个源文件,未覆盖</translation>
    </message>
    <message>
        <source>cannot read the folder; its files were not processed</source>
        <translation>无法读取文件夹,其中的文件未处理</translation>
    </message>
    <message>
        <source>cannot keep the original for undo; not changed</source>
        <translation>无法保存原文件以供撤销,未修改</translation>
    </message>
    <message>
        <source>the file is too large</source>
        <translation>文件过大</translation>
    </message>
    <message>
        <source>the file was changed during the run</source>
        <translation>文件在处理期间被修改</translation>
    </message>
    <message>
        <source>the file is read-only</source>
        <translation>文件只读</translation>
    </message>
    <message>
        <source>the file has several hard links; not changed</source>
        <translation>文件有多个硬链接,未修改</translation>
    </message>
    <message>
        <source>the target encoding cannot hold the file&apos;s content</source>
        <translation>目标编码无法表示该文件的内容</translation>
    </message>
    <message>
        <source>the file was changed after the preview</source>
        <translation>文件在预览之后被修改</translation>
    </message>
    <message>
        <source>looks like a damaged UTF-8 file; not changed</source>
        <translation>疑似损坏的UTF-8文件,未修改</translation>
    </message>
    <message>
        <source>the new content is not what the preview showed</source>
        <translation>新内容与预览不符</translation>
    </message>
    <message>
        <source>the file no longer exists</source>
        <translation>文件已不存在</translation>
    </message>
    <message>
        <source>cannot tell the file&apos;s encoding; not changed</source>
        <translation>无法确定编码,未修改</translation>
    </message>
</context>
<context>
    <name>FileIo</name>
    <message>
        <source>file too large</source>
        <translation>文件过大</translation>
    </message>
    <message>
        <source>file changed while it was read</source>
        <translation>文件在读取期间被修改</translation>
    </message>
</context>
<context>
    <name>FileMasks</name>
    <message>
        <source>File types are name patterns (such as *.txt;!*backup*) and cannot hold “/” or “\”: </source>
        <translation>文件类型只能是文件名的通配符(如*.txt;!*备份*),不能含有“/”或“\”:</translation>
    </message>
</context>
<context>
    <name>FileTree</name>
    <message>
        <source>the path is not inside the given folder</source>
        <translation>路径不在所给的文件夹内</translation>
    </message>
</context>
<context>
    <name>HelpText</name>
    <message>
        <source>Try &apos;parafold-cli --help&apos; for more information.</source>
        <translation>运行 &apos;parafold-cli --help&apos; 查看更多信息。</translation>
    </message>
    <message>
        <source>Usage:
  parafold-cli replace       SOURCE --find TEXT --replace TEXT           (--save-dir DIR | --in-place) [options]
  parafold-cli replace-pairs SOURCE --find-file FILE --replace-file FILE (--save-dir DIR | --in-place) [options]
  parafold-cli replace-pairs SOURCE --rules TABLE (--save-dir DIR | --in-place) [--verbose] [options]
  parafold-cli insert        SOURCE (--text TEXT | --text-file FILE) [--behind] (--save-dir DIR | --in-place) [options]
  parafold-cli find          SOURCE [--terms &quot;A||B&quot;] [--any &quot;C||D&quot;] [--none &quot;E||F&quot;]
                             [--context N] [options]
  parafold-cli convert       SOURCE --to utf-8|utf-8-bom|gbk|gb18030|utf-16le
                             [--from auto|big5|gbk|gb18030] [--eol keep|crlf|lf]
                             (--save-dir DIR | --in-place) [--dry-run] [--report]
  parafold-cli chinese       SOURCE --config t2s|s2t|s2twp|s2hk|tw2sp|hk2s
                             (--save-dir DIR | --in-place) [--dry-run] [--report]
  parafold-cli apply         PLAN SOURCE (--save-dir DIR | --in-place) [--no-journal]
                             [--report] [--no-sync] [-0] [-q]
  parafold-cli undo          SOURCE [--list | --run ID] [--dry-run] [-0] [-q]
  parafold-cli --help | --version

Batch-edits every .txt file (any letter case) below the folder SOURCE, exactly as the
Parafold window does: GBK, GB18030, Big5, UTF-8 and, by byte-order mark, UTF-16 files
are read, and each changed file is written back whole in its own encoding with CR LF
line ends.
A file that cannot be read, decoded without loss or written is left untouched and
reported on stderr.

Commands:
  replace        replace every occurrence of one text (查找内容 / 替换为)
  replace-pairs  apply find/replace pairs in order: line i of --find-file is
                 replaced by line i of --replace-file
  insert         insert a text in front of every file, or behind it with --behind
  find           list the files that contain every term of &quot;A||B||...&quot;; writes no
                 text file
  convert        rewrite every file in the encoding --to (转换编码), its text
                 unchanged; files already in it are counted and left alone, and a
                 file the target cannot hold is listed as failed and not written
  chinese        simplified/traditional conversion (简繁转换) of every file&apos;s text
                 through OpenCC, each file kept in its own encoding and line ends;
                 a file whose encoding cannot hold the result (GBK lacks many
                 traditional characters) is listed as failed and not written
  apply          run exactly the plan that --plan wrote: its operation and texts
                 on its files only, in SOURCE and the mode given here (a plan made
                 for another folder or mode is refused: 预览文件与所选文件夹不符);
                 the journal and --no-sync come from here, never from the plan. A
                 file is written only while it holds what the plan was made from
                 (else 文件在预览之后被修改, or 文件已不存在) and when its new bytes
                 and changed lines are the plan&apos;s (else 新内容与预览不符). A plan
                 cut short or with a line in error is refused whole. Journaled
                 like any run
  undo           put back the files that the last in-place run of SOURCE replaced
                 (撤销上次修改); a file changed since that run is not touched

Options:
  --find TEXT           the text to find (replace); must not be empty
  --replace TEXT        its replacement; may be empty (&apos;&apos;)
  --find-file FILE      search texts, one per line (replace-pairs)
  --replace-file FILE   replacements, one per line; both files must have as many
                        lines. UTF-8, CR LF or LF; a final line break adds no
                        empty line; an empty line in --find-file does nothing
  --rules TABLE         the pairs from a rule table (替换规则表) instead of the two
                        files: UTF-8, one rule a line, find TAB replacement; &apos;#&apos;
                        starts a comment, &apos;#off &apos; a rule switched off; \t, \n,
                        \\ and \# are escapes. A line in error refuses the run; a
                        rule whose find text occurs in an earlier rule&apos;s
                        replacement is named on stderr before the run
  -v, --verbose         (replace-pairs) print each rule&apos;s hits on stderr after the
                        run: the count, a tab, find → replacement; with --report
                        they are also written to SOURCE/替换规则命中次数.txt
  --text TEXT           the text to insert
  --text-file FILE      insert the whole UTF-8 FILE (CR LF read as LF)
  --behind              insert behind the last character instead of in front
  --terms &quot;A||B&quot;        terms separated by &quot;||&quot;, all of which must occur (find);
                        an empty term matches every file
  --any &quot;C||D&quot;          (find) at least one of these terms must occur too (任一包含)
  --none &quot;E||F&quot;         (find) none of these terms may occur (且不包含); find needs
                        at least one of --terms, --any and --none
  --include GLOB        take the files whose name matches GLOB instead of *.txt
                        (文件类型): &apos;*&apos; any characters, &apos;?&apos; one, letter case
                        ignored; repeatable, and &apos;A;B&apos; gives two
  --exclude GLOB        leave out the files, and do not enter the folders, whose
                        name matches GLOB (such as &apos;*备份*&apos; or .git); repeatable.
                        The journal and the report files are never taken
  --save-dir DIR        write changed files below DIR, at their place relative to
                        SOURCE; DIR must exist and differ from SOURCE
  --in-place            overwrite the source files (保存在原文件夹(注意备份))
  --no-journal          keep no copy of what --in-place replaces; the run cannot be
                        undone. Without it each replaced file is kept (as a hard
                        link where the file system allows, otherwise a copy) in
                        SOURCE/.parafold-journal, which keeps the last 10 runs
                        within 2048 MB and says so on stderr when it drops one
  --no-sync             do not wait for each group of written files to reach the
                        disk before renaming them into place: faster, but a power
                        cut may leave a replaced file empty or zeroed
  --bom                 write UTF-8 files with a byte-order mark (保存字符编码带BOM)
  --no-utf16            do not detect UTF-16 by its byte-order mark (自动识别UTF-16
                        off); read such files as GBK or UTF-8
  --dry-run             decide every file and list what would change, but write
                        nothing at all: no text file, no folder, no report
  --diff                (replace, replace-pairs, insert) write nothing; print what
                        would change as a unified diff per file (&apos;--- PATH&apos; and
                        &apos;+++ PATH&apos; relative to SOURCE, a tab and the file&apos;s encoding,
                        then &apos;@@&apos; hunks), lines in the terminal&apos;s encoding
  --plan FILE           write nothing but FILE: the plan, one JSON object a line (the
                        operation, then each file to change with its encoding, size,
                        content hashes, matches per term or pair and changed lines,
                        then the number of files); a name that is not text is kept
                        as base64 (&apos;pathBase64&apos;). FILE must lie outside SOURCE and
                        DIR, and an existing FILE is replaced only if it is a plan
  --context N           (find) print each line holding a term as PATH:LINE:TEXT
                        with N lines around as PATH-LINE-TEXT and &apos;--&apos; between
                        groups, as grep -n -C N does, instead of the path list;
                        N beyond a file&apos;s lines shows all of them
  --report              also write the window&apos;s report files into SOURCE
                        (包含内容并成功修改的文件目录.txt and, when files failed,
                        无法打开修改的文件目录(文件格式有误).txt), deleting stale
                        ones first; without it no report file is written or deleted
  --to ENCODING         (convert) utf-8, utf-8-bom (with a byte-order mark), gbk,
                        gb18030 (GBK for a file that fits in it, else GB18030) or
                        utf-16le (with a byte-order mark)
  --from ENCODING       (convert) auto (default): as every command reads files;
                        big5, gbk or gb18030: read the files without a byte-order
                        mark that are valid in it in that encoding, for files the
                        detection cannot tell; one it names otherwise is refused
  --eol MODE            (convert) keep (default) the line ends as they are, or make
                        every one crlf or lf; a lone CR counts as a line end
  --config NAME         (chinese) t2s: traditional to simplified; s2t: simplified
                        to traditional; s2twp: to Taiwan usage with its phrases;
                        s2hk: to Hong Kong usage; tw2sp and hk2s: Taiwan (with
                        phrases) or Hong Kong usage to simplified
  --show-encoding       after each listed path a tab and the file&apos;s encoding as
                        read (find, --dry-run, convert and chinese)
  --list                (undo) show the journal&apos;s runs: name, time, operation,
                        files and size
  --run ID              (undo) undo the run of that name instead of the last one
                        not undone yet; with --dry-run only list what undo would
                        restore. Undone runs stay listed until they are dropped
  -0, --null            end each listed path with a NUL byte instead of a line feed
  -q, --quiet           no statistics line and no progress bar; the list on stdout,
                        failed files and refusals are still shown
  -h, --help            show this help
      --version         show the version
SOURCE and DIR may be relative; they are made absolute first, so every listed path
is absolute. Put &apos;--&apos; before a SOURCE that begins with &apos;-&apos;.
TEXT and the terms must be valid text in the system&apos;s encoding; FILE is at most
16 MiB. Folder and file names need not be text: they are kept and listed as bytes.

Output:
  stdout  the files changed (or, for find, matched), one absolute path a line, in
          scan order, as the run finds them
  stderr  the window&apos;s statistics line, one line per failed file: its absolute
          path, a tab and the reason (undo: &apos;PATH: REASON&apos;), and, on a terminal
          only, a progress bar that is erased at the end
A run that is refused (missing folder, unequal pair counts, empty search text, save
folder equal to SOURCE) prints the window&apos;s message and changes nothing on disk.
Ctrl-C ends a run after the file in hand; every file is either old or new, never half
written. When the reader of stdout goes away, find stops; the editing commands
finish their files.

Exit status:
  0    the run ended and found or changed at least one file; undo: every file of
       the run is as before it
  1    the run ended and found or changed none; undo: nothing to undo
       (--diff and --plan: 0 when some file would change, 1 when none would)
  2    usage error, refused run, a file failed or was not restored, or stdout or a
       report could not be written
  130  interrupted (Ctrl-C or SIGTERM)

Examples:
  parafold-cli replace ~/novels --find 小云 --replace 小雲 --save-dir ~/novels-edited
  parafold-cli replace-pairs ~/novels --find-file old.txt --replace-file new.txt --in-place --dry-run
  parafold-cli insert ~/notes --text-file footer.txt --behind --in-place --bom
  parafold-cli find ~/novels --terms &quot;小云||小吉&quot; -0 | xargs -0 ls -l
  parafold-cli convert ~/novels --to utf-8 --save-dir ~/novels-utf8
  parafold-cli chinese ~/novels --config t2s --in-place
  parafold-cli replace ~/novels --find 小云 --replace 小雲 --in-place --diff | less
  parafold-cli replace ~/novels --find 小云 --replace 小雲 --in-place --plan p.jsonl
  parafold-cli apply p.jsonl ~/novels --in-place
</source>
        <translation>用法:
  parafold-cli replace       SOURCE --find TEXT --replace TEXT           (--save-dir DIR | --in-place) [选项]
  parafold-cli replace-pairs SOURCE --find-file FILE --replace-file FILE (--save-dir DIR | --in-place) [选项]
  parafold-cli replace-pairs SOURCE --rules TABLE (--save-dir DIR | --in-place) [--verbose] [选项]
  parafold-cli insert        SOURCE (--text TEXT | --text-file FILE) [--behind] (--save-dir DIR | --in-place) [选项]
  parafold-cli find          SOURCE [--terms &quot;A||B&quot;] [--any &quot;C||D&quot;] [--none &quot;E||F&quot;]
                             [--context N] [选项]
  parafold-cli convert       SOURCE --to utf-8|utf-8-bom|gbk|gb18030|utf-16le
                             [--from auto|big5|gbk|gb18030] [--eol keep|crlf|lf]
                             (--save-dir DIR | --in-place) [--dry-run] [--report]
  parafold-cli chinese       SOURCE --config t2s|s2t|s2twp|s2hk|tw2sp|hk2s
                             (--save-dir DIR | --in-place) [--dry-run] [--report]
  parafold-cli apply         PLAN SOURCE (--save-dir DIR | --in-place) [--no-journal]
                             [--report] [--no-sync] [-0] [-q]
  parafold-cli undo          SOURCE [--list | --run ID] [--dry-run] [-0] [-q]
  parafold-cli --help | --version

批量处理文件夹 SOURCE 下的每个 .txt 文件(扩展名不分大小写),与 Parafold 窗口完全相同:
读取 GBK、GB18030、Big5、UTF-8 文件,以及按字节顺序标记识别的 UTF-16 文件;每个修改过的文件
以其原有编码整体写回,换行为 CR LF。
无法读取、无法无损解码或无法写入的文件保持不变,并在 stderr 上列出。

命令:
  replace        替换一个文本的每一处出现(查找内容 / 替换为)
  replace-pairs  按顺序执行多组查找替换:--find-file 的第 i 行替换为
                 --replace-file 的第 i 行
  insert         在每个文件开头插入文本,加 --behind 则插入到末尾
  find           列出包含 &quot;A||B||...&quot; 中每个词的文件;不写入任何文本文件
  convert        将每个文件改写为 --to 指定的编码(转换编码),内容不变;已是该编码的
                 文件只计数不改动,目标编码无法表示的文件列为失败且不写入
  chinese        通过 OpenCC 对每个文件的文本做简繁转换,每个文件保持原有编码和换行;
                 原编码无法容纳转换结果的文件(GBK 缺少许多繁体字)列为失败,不写入
  apply          完全按 --plan 写出的计划执行:只对其中的文件执行其操作和文本,作用于
                 此处给出的 SOURCE 和保存方式(为其他文件夹或方式生成的计划被拒绝:
                 预览文件与所选文件夹不符);撤销记录和 --no-sync 只取自此处,从不取自
                 计划。文件只在内容仍与生成计划时相同(否则列为 文件在预览之后被修改
                 或 文件已不存在)、且新内容和修改的行与计划一致(否则列为
                 新内容与预览不符)时才写入。不完整或有错误行的计划整个被拒绝。与其他
                 修改一样记入撤销记录
  undo           恢复 SOURCE 最近一次&quot;保存在原文件夹&quot;的修改所替换的文件
                 (撤销上次修改);该次修改之后又被改动的文件不动

选项:
  --find TEXT           要查找的文本(replace);不能为空
  --replace TEXT        替换为的文本;可以为空(&apos;&apos;)
  --find-file FILE      查找内容,每行一个(replace-pairs)
  --replace-file FILE   替换内容,每行一个;两个文件的行数必须相同。UTF-8,CR LF 或
                        LF;末尾的换行不算一个空行;--find-file 中的空行不起作用
  --rules TABLE         从替换规则表读取各组查找替换,代替上面两个文件:UTF-8,每行一条
                        规则,查找内容 TAB 替换内容;&apos;#&apos; 开头为注释,&apos;#off &apos; 开头为
                        停用的规则;\t、\n、\\ 和 \# 为转义。有错误的行会拒绝执行;
                        若某条规则的查找内容出现在前面某条规则的替换内容中,执行前
                        在 stderr 上指出这两条规则
  -v, --verbose         (replace-pairs)执行后在 stderr 上列出每条规则的命中次数:
                        次数、TAB、查找内容 → 替换内容;加 --report 时也写入
                        SOURCE/替换规则命中次数.txt
  --text TEXT           要插入的文本
  --text-file FILE      插入整个 UTF-8 文件 FILE(CR LF 按 LF 读取)
  --behind              插入到最后一个字符之后,而不是开头
  --terms &quot;A||B&quot;        以 &quot;||&quot; 分隔的词,须全部出现(find);空词匹配所有文件
  --any &quot;C||D&quot;          (find)这些词中还须至少出现一个(任一包含)
  --none &quot;E||F&quot;         (find)这些词一个也不得出现(且不包含);find 至少需要
                        --terms、--any、--none 之一
  --include GLOB        处理文件名与 GLOB 相符的文件,代替 *.txt(文件类型):
                        &apos;*&apos; 代表任意个字符,&apos;?&apos; 代表一个,不分大小写;可重复,
                        &apos;A;B&apos; 即两个
  --exclude GLOB        跳过名称与 GLOB 相符的文件,也不进入这样的文件夹(如
                        &apos;*备份*&apos; 或 .git);可重复。撤销记录和报告文件从不处理
  --save-dir DIR        将修改后的文件写到 DIR 下,与其在 SOURCE 中的相对位置相同;
                        DIR 必须存在且不同于 SOURCE
  --in-place            覆盖源文件(保存在原文件夹(注意备份))
  --no-journal          不保留 --in-place 所替换文件的副本;该次修改无法撤销。不加此项
                        时每个被替换的文件都保存在 SOURCE/.parafold-journal 中(文件系统
                        允许时为硬链接,否则为副本),其中保留最近 10 次修改、共不超过
                        2048 MB,删除较早的记录时在 stderr 上说明
  --no-sync             改名到位之前不等待每批写入的文件落盘:更快,但断电可能使被替换
                        的文件变空或全为零
  --bom                 写入 UTF-8 文件时带字节顺序标记(保存字符编码带BOM)
  --no-utf16            不按字节顺序标记识别 UTF-16(关闭自动识别UTF-16);此类文件按
                        GBK 或 UTF-8 读取
  --dry-run             判定每个文件并列出将修改的内容,但不写入任何东西:不写文本文件、
                        不建文件夹、不写报告
  --diff                (replace、replace-pairs、insert)不写入;以每个文件一段的统一差异
                        格式输出将修改的内容(&apos;--- PATH&apos; 和 &apos;+++ PATH&apos; 相对于 SOURCE,
                        后跟制表符和文件编码,然后是 &apos;@@&apos; 段),行以终端的编码输出
  --plan FILE           除 FILE 外不写入任何东西:FILE 为计划,每行一个 JSON 对象(先是
                        操作,然后是每个要修改的文件及其编码、大小、内容哈希、每个词或每组
                        的匹配数和修改的行,最后是文件数);不是文本的文件名以 base64 保存
                        (&apos;pathBase64&apos;)。FILE 必须位于 SOURCE 和 DIR 之外,已存在的
                        FILE 只有是计划时才会被替换
  --context N           (find)像 grep -n -C N 一样,将含有某个词的每一行输出为
                        PATH:LINE:TEXT,前后 N 行输出为 PATH-LINE-TEXT,各组之间以 &apos;--&apos;
                        分隔,代替路径列表;N 超过文件行数时输出全部行
  --report              同时将窗口的报告文件写入 SOURCE(包含内容并成功修改的文件目录.txt,
                        有文件失败时还有 无法打开修改的文件目录(文件格式有误).txt),并先删除
                        旧的报告;不加此项时不写也不删任何报告文件
  --to ENCODING         (convert)utf-8、utf-8-bom(带字节顺序标记)、gbk、gb18030(能用
                        GBK 表示的文件用 GBK,否则用 GB18030)或 utf-16le(带字节顺序标记)
  --from ENCODING       (convert)auto(默认):与各命令读取文件的方式相同;big5、gbk 或
                        gb18030:不带字节顺序标记且在该编码中有效的文件按该编码读取,用于
                        自动识别无法分辨的文件;识别结果明确为其他编码的文件不予转换
  --eol MODE            (convert)keep(默认)保持换行不变,或全部改为 crlf 或 lf;单独的
                        CR 也算一个换行
  --config NAME         (chinese)t2s:繁体转简体;s2t:简体转繁体;s2twp:简体转台湾正体
                        (含台湾常用词汇);s2hk:简体转香港繁体;tw2sp、hk2s:台湾正体
                        (含词汇)或香港繁体转简体
  --show-encoding       在每个列出的路径后加制表符和读取时识别的文件编码(find、--dry-run、
                        convert 和 chinese)
  --list                (undo)显示撤销记录中的各次修改:名称、时间、操作、文件数和大小
  --run ID              (undo)撤销该名称的修改,而不是最近一次尚未撤销的修改;加
                        --dry-run 时只列出撤销将恢复的文件。已撤销的修改仍会列出,直到被删除
  -0, --null            每个列出的路径以 NUL 字节结尾,而不是换行
  -q, --quiet           不显示统计行和进度条;stdout 上的列表、失败的文件和拒绝执行的
                        原因仍会显示
  -h, --help            显示此帮助
      --version         显示版本
SOURCE 和 DIR 可以是相对路径;它们会先转为绝对路径,因此列出的每个路径都是绝对路径。
以 &apos;-&apos; 开头的 SOURCE 前请加 &apos;--&apos;。
TEXT 和各个词必须是系统编码下的有效文本;FILE 最大 16 MiB。文件夹和文件名不必是
文本:它们按字节保留和列出。

输出:
  stdout  修改的文件(find 为匹配的文件),每行一个绝对路径,按扫描顺序,边处理边输出
  stderr  窗口的统计行,每个失败的文件一行:绝对路径、制表符和原因(undo 为
          &apos;PATH: 原因&apos;),以及仅在终端上显示、结束时清除的进度条
被拒绝的修改(文件夹不存在、查找数和替换数不一致、查找内容为空、保存文件夹与 SOURCE
相同)输出窗口的提示,磁盘上什么也不改。
Ctrl-C 在处理完手头的文件后结束;每个文件要么是旧的,要么是新的,绝不会只写一半。
stdout 的读取方退出时,find 停止;各修改命令会处理完它们的文件。

退出状态:
  0    结束并找到或修改了至少一个文件;undo:该次修改的每个文件都已恢复原样
  1    结束但没有找到或修改任何文件;undo:没有可撤销的修改
       (--diff 和 --plan:有文件将被修改时为 0,没有时为 1)
  2    用法错误、拒绝执行、有文件失败或未恢复,或无法写入 stdout 或报告
  130  被中断(Ctrl-C 或 SIGTERM)

示例:
  parafold-cli replace ~/novels --find 小云 --replace 小雲 --save-dir ~/novels-edited
  parafold-cli replace-pairs ~/novels --find-file old.txt --replace-file new.txt --in-place --dry-run
  parafold-cli insert ~/notes --text-file footer.txt --behind --in-place --bom
  parafold-cli find ~/novels --terms &quot;小云||小吉&quot; -0 | xargs -0 ls -l
  parafold-cli convert ~/novels --to utf-8 --save-dir ~/novels-utf8
  parafold-cli chinese ~/novels --config t2s --in-place
  parafold-cli replace ~/novels --find 小云 --replace 小雲 --in-place --diff | less
  parafold-cli replace ~/novels --find 小云 --replace 小雲 --in-place --plan p.jsonl
  parafold-cli apply p.jsonl ~/novels --in-place
</translation>
    </message>
    <message>
        <source>
One operation at a time on a folder: a run, apply or undo that writes in SOURCE
waits while another one, here or in the window, of any user, works on it, and
says so once on stderr; with --no-wait it ends at once with exit status 75.
</source>
        <translation>
同一文件夹一次只做一项操作:写入 SOURCE 的修改、应用或撤销,在另一项操作(本程序
或窗口中,任何用户的)正在处理该文件夹时等待它结束,并在 stderr 上说明一次;
加 --no-wait 时立即结束,退出码为 75。
</translation>
    </message>
</context>
<context>
    <name>InputFiles</name>
    <message>
        <source>cannot read %1: %2</source>
        <translation>无法读取 %1:%2</translation>
    </message>
    <message>
        <source>%1 is larger than %2 MiB</source>
        <translation>%1 大于 %2 MiB</translation>
    </message>
    <message>
        <source>%1 is neither UTF-8 nor GBK text</source>
        <translation>%1 既不是 UTF-8 也不是 GBK 文本</translation>
    </message>
</context>
<context>
    <name>LaunchChecks</name>
    <message>
        <source>The source folder does not exist; choose a valid path!</source>
        <translation>源文件夹不存在,请选择正确路径!</translation>
    </message>
    <message>
        <source>The folder does not exist; choose a valid path!</source>
        <translation>文件夹不存在,请选择正确路径!</translation>
    </message>
    <message>
        <source>The save folder does not exist; choose a valid path!</source>
        <translation>保存文件夹不存在,请选择正确路径!</translation>
    </message>
    <message>
        <source>The save folder cannot be the source folder; to overwrite the originals, check Save in the source folder!</source>
        <translation>保存文件夹不能与源文件夹相同,如需覆盖原文件请勾选保存在原文件夹!</translation>
    </message>
    <message>
        <source>The save folder cannot lie inside the source folder!</source>
        <translation>保存文件夹不能位于源文件夹之内!</translation>
    </message>
    <message>
        <source>The text to find cannot be empty!</source>
        <translation>查找内容不能为空!</translation>
    </message>
    <message>
        <source>The text to insert cannot be empty!</source>
        <translation>插入内容不能为空!</translation>
    </message>
    <message>
        <source>The numbers of find and replace texts differ; please check them!</source>
        <translation>查找数和替换数不一致,请核对!</translation>
    </message>
    <message>
        <source>Note:</source>
        <translation>注意：</translation>
    </message>
    <message>
        <source>The source folder is not writable</source>
        <translation>源文件夹不可写</translation>
    </message>
    <message>
        <source>The save folder is not writable</source>
        <translation>保存文件夹不可写</translation>
    </message>
    <message>
        <source>The preview does not match the chosen folders</source>
        <translation>预览文件与所选文件夹不符</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Note:</source>
        <translation>注意：</translation>
    </message>
    <message>
        <source>MainWindow</source>
        <translation>MainWindow</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>软件设置</translation>
    </message>
    <message>
        <source>Detect UTF-16</source>
        <translation>自动识别UTF-16</translation>
    </message>
    <message>
        <source>List each file&apos;s changes before editing, and write only the checked files</source>
        <translation>修改前先列出每个文件的改动,勾选后再写入</translation>
    </message>
    <message>
        <source>Preview first</source>
        <translation>先预览</translation>
    </message>
    <message>
        <source>Read me first</source>
        <translation>使用必读</translation>
    </message>
    <message>
        <source>Function 1: Find and replace</source>
        <translation>功能一、查找替换</translation>
    </message>
    <message>
        <source>Find:</source>
        <translation>查找内容：</translation>
    </message>
    <message>
        <source>Function 1 find</source>
        <translation>功能一 查找内容</translation>
    </message>
    <message>
        <source>Replace with:</source>
        <translation>替换为：</translation>
    </message>
    <message>
        <source>Function 1 replace with</source>
        <translation>功能一 替换为</translation>
    </message>
    <message>
        <source>Replace all</source>
        <translation>全部替换</translation>
    </message>
    <message>
        <source>Texts to find (one per line)</source>
        <translation>多个查找内容(每行一个)</translation>
    </message>
    <message>
        <source>Replacements (one per line)</source>
        <translation>多个替换内容(每行一个)</translation>
    </message>
    <message>
        <source>Replace all pairs</source>
        <translation>多个内容全部替换</translation>
    </message>
    <message>
        <source>Function 2 find</source>
        <translation>功能二 查找内容</translation>
    </message>
    <message>
        <source>Find</source>
        <translation>查找</translation>
    </message>
    <message>
        <source>Insert at the start</source>
        <translation>文本前插入</translation>
    </message>
    <message>
        <source>Insert at the end</source>
        <translation>文本后插入</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Insert&lt;/p&gt;&lt;p&gt;text:&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;插入&lt;/p&gt;&lt;p&gt;内容：&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Function 3 insert text</source>
        <translation>功能三 插入内容</translation>
    </message>
    <message>
        <source>Insert</source>
        <translation>插入</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>处理进度</translation>
    </message>
    <message>
        <source>%v / %m</source>
        <translation>%v / %m</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>Busy: wait until the current operation ends!</source>
        <translation>正在处理中,请等待当前操作完成!</translation>
    </message>
    <message>
        <source>A run is in progress. Quit now?

Continue: process every file.
Stop and quit: stop after the file in hand, write the list of the files processed, then quit.</source>
        <translation>正在处理中,现在退出吗?

继续处理:处理完全部文件。
停止并退出:处理完当前文件后停止,写出已处理文件的目录,然后退出。</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>继续处理</translation>
    </message>
    <message>
        <source>Stop and quit</source>
        <translation>停止并退出</translation>
    </message>
    <message>
        <source>Encoding conversion</source>
        <translation>编码转换</translation>
    </message>
    <message>
        <source>Function 2: Find only</source>
        <translation>功能二、只查找</translation>
    </message>
    <message>
        <source>Function 3: Insert text</source>
        <translation>功能三、插入内容</translation>
    </message>
    <message>
        <source>Choose a folder</source>
        <translation>选择文件夹</translation>
    </message>
    <message>
        <source>
Texts to find: %1 lines; replacements: %2 lines.</source>
        <translation>
查找内容%1行,替换内容%2行。</translation>
    </message>
    <message>
        <source>
Cannot open the list; please look at it yourself: %1</source>
        <translation>
无法打开目录,请自行查看:%1</translation>
    </message>
    <message>
        <source>The text will be inserted at the %2 of every txt file in %1 and saved in the source folder.
Inserting again repeats the text.

Continue?</source>
        <translation>将在%1中每个txt文件的%2插入内容,并保存在原文件夹。
再次插入会使内容重复出现。

是否继续?</translation>
    </message>
    <message>
        <source>start</source>
        <translation>开头</translation>
    </message>
    <message>
        <source>end</source>
        <translation>末尾</translation>
    </message>
    <message>
        <source>Note</source>
        <translation>注意</translation>
    </message>
    <message>
        <source>1. No installation is needed: unpack and run. Do not unpack into a system folder that needs administrator rights, or the settings cannot be saved.</source>
        <translation>1. 本软件无需安装，解压后运行即可，但请勿解压到需要管理员权限的系统文件夹，否则无法保存设置。</translation>
    </message>
    <message>
        <source>2. Where the settings need administrator rights, use “Run as administrator” (right-click the program&apos;s exe), or the settings cannot be saved.</source>
        <translation>2. 如有需管理员权限的设置，请使用“以管理员身份运行“(鼠标指向软件exe文件点击右键即可选择)，否则无法保存设置。</translation>
    </message>
    <message>
        <source>3. The program runs on Microsoft Windows 7 or later; Windows XP is not supported.</source>
        <translation>3. 软件请在微软Windows7或以上系统运行，不支持xp系统。</translation>
    </message>
    <message>
        <source>4. The program edits files on the computer: if 360 or similar software asks whether to allow it, choose to always allow it and not to ask again.</source>
        <translation>4. 软件需要对电脑文件进行修改操作，如果360等软件询问是否允许，请选择总是运行，并勾选不再询问。</translation>
    </message>
    <message>
        <source>Find and edit the .txt files. (Cannot be undone: back up first!)</source>
        <translation>对txt文件进行查找修改。（操作不可逆,操作前请先备份,先备份,先备份）</translation>
    </message>
    <message>
        <source>Choose the source folder</source>
        <translation>选择txt文件所在文件夹</translation>
    </message>
    <message>
        <source>Source folder</source>
        <translation>txt文件所在文件夹</translation>
    </message>
    <message>
        <source>  Choose the save folder  </source>
        <translation>  选择修改后保存路径  </translation>
    </message>
    <message>
        <source>Save folder</source>
        <translation>修改后保存路径</translation>
    </message>
    <message>
        <source>UTF-8 with BOM</source>
        <translation>保存字符编码带BOM</translation>
    </message>
    <message>
        <source>Save in the source folder (back up!)</source>
        <translation>保存在原文件夹(注意备份)</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-weight:600;&quot;&gt;Several texts at once: one per line, in matching order&lt;/span&gt;&lt;span style=&quot; color:#ff0000;&quot;&gt; (in the source folder: back up first!)&lt;/span&gt;&lt;span style=&quot; font-weight:600;&quot;&gt;:&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-weight:600;&quot;&gt;多个内容同时查找替换时,请换行表示,并一一对应&lt;/span&gt;&lt;span style=&quot; color:#ff0000;&quot;&gt;（如保存在原文件夹,请先备份,先备份,先备份）&lt;/span&gt;&lt;span style=&quot; font-weight:600;&quot;&gt;：&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Function 2: Find only and list the files (files holding both &quot;小云&quot; and &quot;小吉&quot;: 小云||小吉)</source>
        <translation>功能二、只查找并获得文件路径列表（多条件查找用||分隔,例如需要查找既包含&quot;小云&quot;同时也包含&quot;小吉&quot;的文本文件：小云||小吉）</translation>
    </message>
    <message>
        <source>Function 3: Insert text (mind the line breaks). In the source folder it cannot be undone: back up first!</source>
        <translation>功能三、插入内容（注意开头或末尾是否需要换行） 操作不可逆,如保存在原文件夹,操作前请先备份,先备份,先备份！</translation>
    </message>
    <message>
        <source>To edit the original files, check “Save in the source folder (back up!)”.</source>
        <translation>如需直接修改原文件,请勾选“保存在原文件夹(注意备份)”。</translation>
    </message>
    <message>
        <source>... and %1 more</source>
        <translation>……另有 %1 处</translation>
    </message>
    <message>
        <source>Rules that rewrite each other</source>
        <translation>规则会改写彼此的结果</translation>
    </message>
    <message>
        <source>Rules apply in order, each on the text the earlier ones left, so these rules rewrite what an earlier rule put in:
%1

Run them anyway?</source>
        <translation>规则按顺序执行,每条都作用于前面规则处理后的文本,因此下列规则会改写前面规则替换进去的内容:
%1

仍要执行吗?</translation>
    </message>
    <message>
        <source>The Parafold window that runs does not answer.</source>
        <translation>正在运行的Parafold窗口没有响应。</translation>
    </message>
    <message>
        <source>File types:</source>
        <translation>文件类型：</translation>
    </message>
    <message>
        <source>File types</source>
        <translation>文件类型</translation>
    </message>
    <message>
        <source>Which files are taken, by name: * stands for any characters, ? for one, letter case ignored; several separated by “;”. A name after “!” is left out, files and folders: *.txt;*.srt;!*backup*;!.git</source>
        <translation>按名称选择要处理的文件:* 代表任意个字符,? 代表一个字符,不分大小写;多个用“;”分隔。“!”后的名称被跳过,文件和文件夹都是:*.txt;*.srt;!*备份*;!.git</translation>
    </message>
    <message>
        <source>Any of:</source>
        <translation>任一包含：</translation>
    </message>
    <message>
        <source>Function 2 any of</source>
        <translation>功能2 任一包含</translation>
    </message>
    <message>
        <source>At least one of these terms must occur as well, separated by ||</source>
        <translation>这些词中还须至少出现一个,以 || 分隔</translation>
    </message>
    <message>
        <source>And none of:</source>
        <translation>且不包含：</translation>
    </message>
    <message>
        <source>Function 2 none of</source>
        <translation>功能2 且不包含</translation>
    </message>
    <message>
        <source>None of these terms may occur, separated by ||</source>
        <translation>这些词一个也不得出现,以 || 分隔</translation>
    </message>
    <message>
        <source>Line feeds and tabs in the boxes</source>
        <translation>框中的换行和制表符</translation>
    </message>
    <message>
        <source>In the boxes, as in a rule table, \n stands for a line feed and \t for a tab (a backslash itself is written \\). These typed lines hold one:
%1

Run them with line feeds and tabs?</source>
        <translation>框中与规则表一样,\n表示换行,\t表示制表符(反斜杠本身写作\\)。以下输入的行含有它们:
%1

按换行和制表符执行吗?</translation>
    </message>
    <message>
        <source>Rules</source>
        <translation>规则</translation>
    </message>
    <message>
        <source>Every txt file in %1 will be converted and saved over the original.

Continue?</source>
        <translation>%1中的每个txt文件都将被转换并覆盖保存在原文件中。

继续吗?</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>转换</translation>
    </message>
</context>
<context>
    <name>PlanCommand</name>
    <message>
        <source>parafold-cli: cannot write the plan %1: %2</source>
        <translation>parafold-cli: 无法写入计划 %1:%2</translation>
    </message>
    <message>
        <source>parafold-cli: a search plan has nothing to apply</source>
        <translation>parafold-cli: 查找的计划没有可执行的修改</translation>
    </message>
    <message>
        <source>parafold-cli: the plan %1 must not lie inside the source or save folder</source>
        <translation>parafold-cli: 计划文件 %1 不能位于源文件夹或保存文件夹之内</translation>
    </message>
    <message>
        <source>parafold-cli: %1 exists and is not a plan; it is not replaced</source>
        <translation>parafold-cli: %1 已存在且不是计划文件,未覆盖</translation>
    </message>
    <message>
        <source>parafold-cli: the plan %1 is refused: %2</source>
        <translation>parafold-cli: 拒绝计划 %1:%2</translation>
    </message>
    <message>
        <source>parafold-cli: the plan was made for %1, in place</source>
        <translation>parafold-cli: 此计划是为 %1 生成的,保存在原文件夹</translation>
    </message>
    <message>
        <source>parafold-cli: the plan was made for %1, saving into %2</source>
        <translation>parafold-cli: 此计划是为 %1 生成的,保存到 %2</translation>
    </message>
</context>
<context>
    <name>PlanFile</name>
    <message>
        <source>line %1: not a plan of this version</source>
        <translation>第%1行:不是本版本的计划</translation>
    </message>
    <message>
        <source>line %1: no path</source>
        <translation>第%1行:缺少路径</translation>
    </message>
    <message>
        <source>line %1: no hash</source>
        <translation>第%1行:缺少哈希值</translation>
    </message>
    <message>
        <source>empty plan</source>
        <translation>空计划</translation>
    </message>
    <message>
        <source>line %1: cut short</source>
        <translation>第%1行:不完整</translation>
    </message>
    <message>
        <source>line %1: not a JSON object</source>
        <translation>第%1行:不是JSON对象</translation>
    </message>
    <message>
        <source>line %1: after the end of the plan</source>
        <translation>第%1行:位于计划结尾之后</translation>
    </message>
    <message>
        <source>line %1: %2 is not a path below the folder</source>
        <translation>第%1行:%2 不是文件夹之内的路径</translation>
    </message>
    <message>
        <source>line %1: no changes</source>
        <translation>第%1行:缺少修改内容</translation>
    </message>
    <message>
        <source>line %1: %2 is listed twice</source>
        <translation>第%1行:%2 重复列出</translation>
    </message>
    <message>
        <source>line %1: the plan ends with %2 files, but lists %3</source>
        <translation>第%1行:计划结尾记录%2个文件,实际列出%3个</translation>
    </message>
    <message>
        <source>cut short after line %1</source>
        <translation>在第%1行之后被截断</translation>
    </message>
    <message>
        <source>the plan is larger than 2 GiB</source>
        <translation>计划文件超过2 GiB</translation>
    </message>
</context>
<context>
    <name>ProgressBar</name>
    <message>
        <source>scanning... </source>
        <translation>正在扫描... </translation>
    </message>
</context>
<context>
    <name>RecentTerms</name>
    <message>
        <source>Recent entries (Alt+Down)</source>
        <translation>最近使用的内容(Alt+向下键)</translation>
    </message>
    <message>
        <source>No recent entries</source>
        <translation>没有最近使用的内容</translation>
    </message>
    <message>
        <source>Clear the list</source>
        <translation>清除记录</translation>
    </message>
</context>
<context>
    <name>Reports</name>
    <message>
        <source>(stopped: %1 more files not processed)</source>
        <translation>(已停止:另有%1个文件未处理)</translation>
    </message>
    <message>
        <source>%1 files scanned, </source>
        <translation>扫描文件%1个,</translation>
    </message>
    <message>
        <source>%1 files of the type, </source>
        <translation>查找符合类型文件%1个,</translation>
    </message>
    <message>
        <source>%1 files contain the text, </source>
        <translation>包含查找内容文件%1个,</translation>
    </message>
    <message>
        <source>%1 files changed, </source>
        <translation>修改文件%1个,</translation>
    </message>
    <message>
        <source>%1 files would change, </source>
        <translation>将修改文件%1个,</translation>
    </message>
    <message>
        <source>%1 already in the target encoding, </source>
        <translation>已是目标编码%1个,</translation>
    </message>
    <message>
        <source>%1 %2</source>
        <translation>%1 %2个</translation>
    </message>
    <message>
        <source>read as %1, </source>
        <translation>按编码读取%1,</translation>
    </message>
    <message>
        <source> and </source>
        <translation>、</translation>
    </message>
    <message>
        <source>%1 failed, </source>
        <translation>失败%1个,</translation>
    </message>
    <message>
        <source>took %1 s.</source>
        <translation>耗时%1秒。</translation>
    </message>
    <message>
        <source> (stopped)</source>
        <translation>(已停止)</translation>
    </message>
    <message>
        <source> The report files could not be written!</source>
        <translation>报告文件无法写入!</translation>
    </message>
</context>
<context>
    <name>ResultsDialog</name>
    <message>
        <source>Matches per pair</source>
        <translation>各组匹配次数</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>预览</translation>
    </message>
    <message>
        <source>Find results</source>
        <translation>查找结果</translation>
    </message>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>Encoding</source>
        <translation>编码</translation>
    </message>
    <message>
        <source>Matches</source>
        <translation>匹配数</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>File list</source>
        <translation>文件列表</translation>
    </message>
    <message>
        <source>Changes in the selected file</source>
        <translation>所选文件的改动</translation>
    </message>
    <message>
        <source>Filter by file name</source>
        <translation>按文件名筛选</translation>
    </message>
    <message>
        <source>File count</source>
        <translation>文件数</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Will change</source>
        <translation>将修改</translation>
    </message>
    <message>
        <source>Found</source>
        <translation>已找到</translation>
    </message>
    <message>
        <source>%1 files, %2 checked</source>
        <translation>共%1个文件,已勾选%2个</translation>
    </message>
    <message>
        <source>%1 files</source>
        <translation>共%1个文件</translation>
    </message>
    <message>
        <source>, %1 shown</source>
        <translation>,显示%1个</translation>
    </message>
    <message>
        <source>, working…</source>
        <translation>,正在处理…</translation>
    </message>
    <message>
        <source>&lt;p style=&apos;font-family:monospace&apos;&gt;Line %1&lt;br&gt;</source>
        <translation>&lt;p style=&apos;font-family:monospace&apos;&gt;第%1行&lt;br&gt;</translation>
    </message>
    <message>
        <source>Check a&amp;ll</source>
        <translation>全选(&amp;L)</translation>
    </message>
    <message>
        <source>Check &amp;none</source>
        <translation>全不选(&amp;N)</translation>
    </message>
    <message>
        <source>&amp;Apply checked</source>
        <translation>应用所选(&amp;A)</translation>
    </message>
    <message>
        <source>Writes over the original files in %1</source>
        <translation>将覆盖写入原文件: %1</translation>
    </message>
    <message>
        <source>Writes into the save folder %1</source>
        <translation>将写入保存文件夹: %1</translation>
    </message>
    <message>
        <source>, %1 matches</source>
        <translation>,共%1处匹配</translation>
    </message>
    <message>
        <source>, %1 checked and shown will be written</source>
        <translation>,将写入显示且已勾选的%1个</translation>
    </message>
    <message>
        <source>Will convert</source>
        <translation>将转换</translation>
    </message>
</context>
<context>
    <name>RuleHitsTable</name>
    <message>
        <source>No.</source>
        <translation>序号</translation>
    </message>
    <message>
        <source>Rule</source>
        <translation>规则</translation>
    </message>
    <message>
        <source>Hits</source>
        <translation>命中次数</translation>
    </message>
    <message>
        <source>Hits per rule</source>
        <translation>各规则命中次数</translation>
    </message>
</context>
<context>
    <name>RuleTable</name>
    <message>
        <source>line %1: %2</source>
        <translation>第 %1 行:%2</translation>
    </message>
    <message>
        <source>no tab between the find text and the replacement</source>
        <translation>查找内容与替换内容之间没有制表符</translation>
    </message>
    <message>
        <source>more than one tab (write a tab inside a text as \t)</source>
        <translation>制表符多于一个(文本中的制表符请写作 \t)</translation>
    </message>
    <message>
        <source>a backslash ends the text (write one as \\)</source>
        <translation>文本以反斜杠结尾(反斜杠请写作 \\)</translation>
    </message>
    <message>
        <source>unknown escape \%1 (use \t, \n, \\ or \#)</source>
        <translation>未知的转义 \%1(可用 \t、\n、\\ 或 \#)</translation>
    </message>
    <message>
        <source>the find text is empty</source>
        <translation>查找内容为空</translation>
    </message>
    <message>
        <source>cannot read %1: %2</source>
        <translation>无法读取 %1:%2</translation>
    </message>
    <message>
        <source>%1 is larger than %2 MiB</source>
        <translation>%1 大于 %2 MiB</translation>
    </message>
    <message>
        <source>%1 is neither UTF-8 nor GBK text</source>
        <translation>%1 既不是 UTF-8 也不是 GBK 文本</translation>
    </message>
    <message>
        <source>%1 has %2 lines but %3 has %4</source>
        <translation>%1 有 %2 行,而 %3 有 %4 行</translation>
    </message>
    <message>
        <source>the rule on line %1 (%2) puts in text that the rule on line %3 (%4) finds</source>
        <translation>第 %1 行的规则(%2)替换进去的文字会被第 %3 行的规则(%4)找到</translation>
    </message>
</context>
<context>
    <name>RulesControl</name>
    <message>
        <source>Rule tables (*.txt);;All files (*)</source>
        <translation>替换规则表 (*.txt);;所有文件 (*)</translation>
    </message>
    <message>
        <source>Rules...</source>
        <translation>规则表...</translation>
    </message>
    <message>
        <source>Saved rule tables</source>
        <translation>已保存的替换规则表</translation>
    </message>
    <message>
        <source>Pick a saved rule table to fill the two boxes</source>
        <translation>选择一个已保存的替换规则表,填入左边两个框</translation>
    </message>
    <message>
        <source>Rule table actions</source>
        <translation>替换规则表操作</translation>
    </message>
    <message>
        <source>&amp;Save boxes as table...</source>
        <translation>将两个框保存为规则表(&amp;S)...</translation>
    </message>
    <message>
        <source>&amp;Import table...</source>
        <translation>导入规则表(&amp;I)...</translation>
    </message>
    <message>
        <source>Import &amp;two files (find / replace)...</source>
        <translation>导入两个文件(查找 / 替换)(&amp;T)...</translation>
    </message>
    <message>
        <source>&amp;Export table...</source>
        <translation>导出规则表(&amp;E)...</translation>
    </message>
    <message>
        <source>(rule table)</source>
        <translation>(替换规则表)</translation>
    </message>
    <message>
        <source>Rule table</source>
        <translation>替换规则表</translation>
    </message>
    <message>
        <source>%1 has lines in error:
%2</source>
        <translation>%1 中有错误的行:
%2</translation>
    </message>
    <message>
        <source>The boxes hold no rule to save.</source>
        <translation>两个框中没有可保存的规则。</translation>
    </message>
    <message>
        <source>Save rule table</source>
        <translation>保存替换规则表</translation>
    </message>
    <message>
        <source>Table name:</source>
        <translation>规则表名称:</translation>
    </message>
    <message>
        <source>A table name cannot hold / or \ or begin with a dot.</source>
        <translation>规则表名称不能包含 / 或 \,也不能以点开头。</translation>
    </message>
    <message>
        <source>%1 exists. Replace it?</source>
        <translation>%1 已存在。要替换它吗?</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>无法写入 %1:%2</translation>
    </message>
    <message>
        <source>Import rule table</source>
        <translation>导入替换规则表</translation>
    </message>
    <message>
        <source>Import: the texts to find, one per line</source>
        <translation>导入:查找内容,每行一个</translation>
    </message>
    <message>
        <source>Import: the replacements, one per line</source>
        <translation>导入:替换内容,每行一个</translation>
    </message>
    <message>
        <source>Export rule table</source>
        <translation>导出替换规则表</translation>
    </message>
    <message>
        <source>Rules apply in order, each on the text the ones before it left. Write a tab as \t, a line feed as \n, a backslash as \\.</source>
        <translation>规则按顺序执行,每条都作用于前面规则处理后的文本。制表符写作 \t,换行写作 \n,反斜杠写作 \\。</translation>
    </message>
    <message>
        <source>Rules</source>
        <translation>规则</translation>
    </message>
    <message>
        <source>On</source>
        <translation>启用</translation>
    </message>
    <message>
        <source>Find</source>
        <translation>查找</translation>
    </message>
    <message>
        <source>Replace with</source>
        <translation>替换为</translation>
    </message>
    <message>
        <source>Rule %1 on</source>
        <translation>规则 %1 启用</translation>
    </message>
    <message>
        <source>rule %1: a backslash starts no escape</source>
        <translation>规则 %1:反斜杠后不是有效的转义</translation>
    </message>
    <message>
        <source>rule %1: the find text is empty</source>
        <translation>规则 %1:查找内容为空</translation>
    </message>
    <message>
        <source>&amp;Edit rules...</source>
        <translation>编辑规则(&amp;E)...</translation>
    </message>
    <message>
        <source>%1, line %2: a backslash starts no escape (write \t, \n or \\): %3</source>
        <translation>%1第%2行: 反斜杠后不是转义(请写\t、\n或\\): %3</translation>
    </message>
    <message>
        <source>%1, line %2: %3</source>
        <translation>%1第%2行: %3</translation>
    </message>
    <message>
        <source>Find box</source>
        <translation>查找框</translation>
    </message>
    <message>
        <source>Replace box</source>
        <translation>替换框</translation>
    </message>
    <message>
        <source>Edit rules</source>
        <translation>编辑规则</translation>
    </message>
    <message>
        <source>Edit rule table %1</source>
        <translation>编辑规则表 %1</translation>
    </message>
    <message>
        <source>A&amp;dd</source>
        <translation>添加(&amp;D)</translation>
    </message>
    <message>
        <source>De&amp;lete</source>
        <translation>删除(&amp;L)</translation>
    </message>
    <message>
        <source>&amp;Up</source>
        <translation>上移(&amp;U)</translation>
    </message>
    <message>
        <source>Do&amp;wn</source>
        <translation>下移(&amp;W)</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>确定(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>保存(&amp;S)</translation>
    </message>
    <message>
        <source>Last run&apos;s &amp;hits per rule...</source>
        <translation>上次运行各规则命中次数(&amp;H)...</translation>
    </message>
    <message>
        <source>Hits per rule of the last run</source>
        <translation>上次运行各规则命中次数</translation>
    </message>
</context>
<context>
    <name>RunCommand</name>
    <message>
        <source>the source folder does not exist: %1</source>
        <translation>源文件夹不存在:%1</translation>
    </message>
    <message>
        <source>the save folder does not exist: %1 (use --in-place to edit the files where they are)</source>
        <translation>保存文件夹不存在:%1(如需就地修改文件,请用 --in-place)</translation>
    </message>
    <message>
        <source>the save folder is the source folder: %1 (use --in-place to overwrite the files)</source>
        <translation>保存文件夹就是源文件夹:%1(如需覆盖原文件,请用 --in-place)</translation>
    </message>
    <message>
        <source>the save folder lies inside the source folder: %1</source>
        <translation>保存文件夹位于源文件夹之内:%1</translation>
    </message>
    <message>
        <source>the text to find is empty</source>
        <translation>查找内容为空</translation>
    </message>
    <message>
        <source>the text to insert is empty</source>
        <translation>插入内容为空</translation>
    </message>
    <message>
        <source>--find-file has %1 lines but --replace-file has %2</source>
        <translation>--find-file 有 %1 行,而 --replace-file 有 %2 行</translation>
    </message>
    <message>
        <source>parafold-cli: cannot write the report %1: %2</source>
        <translation>parafold-cli: 无法写入报告 %1:%2</translation>
    </message>
    <message>
        <source>parafold-cli: cannot write the list to stdout: %1</source>
        <translation>parafold-cli: 无法将列表写入 stdout:%1</translation>
    </message>
    <message>
        <source>parafold-cli: warning: %1</source>
        <translation>parafold-cli: 警告:%1</translation>
    </message>
    <message>
        <source>parafold-cli: each rule&apos;s hits are in %1</source>
        <translation>parafold-cli: 每条规则的命中次数见 %1</translation>
    </message>
    <message>
        <source>parafold-cli: warning: and %1 more rules that rewrite an earlier rule&apos;s output</source>
        <translation>parafold-cli: 警告: 另有%1处规则改写前面规则的结果</translation>
    </message>
    <message>
        <source>parafold-cli: interrupted before the first file</source>
        <translation>parafold-cli: 已中断,未处理任何文件</translation>
    </message>
</context>
<context>
    <name>RunDescription</name>
    <message>
        <source>UTF-8 with BOM</source>
        <translation>带BOM的UTF-8</translation>
    </message>
    <message>
        <source>to %1, CR LF line ends</source>
        <translation>转为%1,换行CR LF</translation>
    </message>
    <message>
        <source>to %1, LF line ends</source>
        <translation>转为%1,换行LF</translation>
    </message>
    <message>
        <source>to %1</source>
        <translation>转为%1</translation>
    </message>
    <message>
        <source>%1 pairs</source>
        <translation>%1组</translation>
    </message>
    <message>
        <source>at the start “</source>
        <translation>开头插入“</translation>
    </message>
    <message>
        <source>at the end “</source>
        <translation>末尾插入“</translation>
    </message>
    <message>
        <source>Find and replace</source>
        <translation>查找替换</translation>
    </message>
    <message>
        <source>Replace several texts at once</source>
        <translation>多个内容同时查找替换</translation>
    </message>
    <message>
        <source>Insert text</source>
        <translation>插入内容</translation>
    </message>
    <message>
        <source>Convert encoding</source>
        <translation>转换编码</translation>
    </message>
    <message>
        <source> (run %1 of that second)</source>
        <translation>(该秒第%1次)</translation>
    </message>
    <message>
        <source>Simplified/traditional conversion</source>
        <translation>简繁转换</translation>
    </message>
</context>
<context>
    <name>RunJournal</name>
    <message>
        <source>cannot make a folder in %1</source>
        <translation>无法在 %1 中创建文件夹</translation>
    </message>
    <message>
        <source>cannot make the journal</source>
        <translation>无法创建撤销记录</translation>
    </message>
    <message>
        <source>cannot read the file&apos;s size and time</source>
        <translation>无法读取文件的大小和时间</translation>
    </message>
    <message>
        <source>The undo journal keeps at most %1 runs within %2 MB; dropped the earlier runs: %3</source>
        <translation>撤销记录最多保留%1次修改、共%2 MB,已删除较早的修改记录:%3</translation>
    </message>
</context>
<context>
    <name>Scan</name>
    <message>
        <source>the link leads outside the chosen folder; not entered</source>
        <translation>链接指向所选文件夹之外,未进入</translation>
    </message>
</context>
<context>
    <name>SystemTray</name>
    <message>
        <source>Settings</source>
        <translation>软件设置</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>退出程序</translation>
    </message>
</context>
<context>
    <name>ThreadObject</name>
    <message>
        <source>Note: the search text “%1” begins or ends with a blank, which is searched for too.</source>
        <translation>注意:查找内容“%1”的开头或末尾有空格,空格也会被查找。</translation>
    </message>
    <message>
        <source>pair %1: %2</source>
        <translation>第%1组%2次</translation>
    </message>
    <message>
        <source>Replacements per pair: %1</source>
        <translation>各组替换次数:%1</translation>
    </message>
    <message>
        <source>, </source>
        <comment>between pairs</comment>
        <translation>,</translation>
    </message>
    <message>
        <source>Every pair replaced something.</source>
        <translation>每组都有替换。</translation>
    </message>
    <message>
        <source>Pairs that replaced nothing: %1</source>
        <translation>没有替换任何内容的组:第%1组</translation>
    </message>
    <message>
        <source>, </source>
        <comment>between numbers</comment>
        <translation>、</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <comment>a pair&apos;s number and find text</comment>
        <translation>%1(%2)</translation>
    </message>
    <message>
        <source>%1 more</source>
        <translation>另有 %1 组</translation>
    </message>
    <message>
        <source>Each rule&apos;s hits: %1</source>
        <translation>每条规则的命中次数:%1</translation>
    </message>
</context>
<context>
    <name>TreeLock</name>
    <message>
        <source>Waiting for another operation on this folder to end…</source>
        <translation>等待另一个对此文件夹的操作结束…</translation>
    </message>
    <message>
        <source>cannot lock the folder with %1: %2</source>
        <translation>无法用%1锁定文件夹:%2</translation>
    </message>
</context>
<context>
    <name>Undo</name>
    <message>
        <source>changed again since the run; not restored</source>
        <translation>修改后又被改动过,未恢复</translation>
    </message>
    <message>
        <source>the file no longer exists; not restored</source>
        <translation>文件已不存在,未恢复</translation>
    </message>
    <message>
        <source>the original in the undo journal is missing or altered; cannot restore</source>
        <translation>撤销记录中的原文件缺失或已被改动,无法恢复</translation>
    </message>
    <message>
        <source>invalid undo record; not restored</source>
        <translation>撤销记录无效,未恢复</translation>
    </message>
    <message>
        <source>Nothing to undo</source>
        <translation>没有可撤销的修改</translation>
    </message>
    <message>
        <source>: %1 holds no record of a run that saved in the source folder. A run that saved to another folder changed no original and needs no undo.</source>
        <translation>:%1 中没有“保存在原文件夹”的修改记录。保存到其他文件夹的修改不改动原文件,无需撤销。</translation>
    </message>
    <message>
        <source>The undo journal has no run %1</source>
        <translation>撤销记录中没有修改记录 %1</translation>
    </message>
    <message>
        <source>Undo of %2 at %1: %3 %4 files, %5 already as they were, %6 not restored.</source>
        <translation>撤销%1的%2:%3文件%4个,已是原样%5个,未恢复%6个。</translation>
    </message>
    <message>
        <source>would restore</source>
        <translation>将恢复</translation>
    </message>
    <message>
        <source>restored</source>
        <translation>恢复</translation>
    </message>
    <message>
        <source> (stopped: %1 more files not restored)</source>
        <translation>(已停止,另有%1个文件未恢复)</translation>
    </message>
</context>
<context>
    <name>UndoCommand</name>
    <message>
        <source>  undone</source>
        <translation>  已撤销</translation>
    </message>
    <message>
        <source>  interrupted</source>
        <translation>  已中断</translation>
    </message>
    <message>
        <source>%1  %2  %3 files  %4%5  %6
</source>
        <translation>%1  %2  %3个文件  %4%5  %6
</translation>
    </message>
    <message>
        <source>%1 run(s), %2 kept; the journal keeps the last %3 runs while they stay within %4 MB</source>
        <translation>共%1次修改,占用%2;撤销记录保留最近%3次修改,总大小不超过%4 MB</translation>
    </message>
</context>
<context>
    <name>UndoControl</name>
    <message>
        <source>Undo the last edit</source>
        <translation>撤销上次修改</translation>
    </message>
    <message>
        <source>…… %1 more files not restored</source>
        <translation>……另有%1个文件未恢复</translation>
    </message>
    <message>
        <source>Puts back the files as they were before the last run that saved in the source folder. The undo journal is in the source folder&apos;s .parafold-journal and keeps the last %1 runs within %2 MB</source>
        <translation>恢复上次“保存在原文件夹”修改之前的文件。撤销记录在源文件夹的.parafold-journal中,保留最近%1次修改,共不超过%2 MB</translation>
    </message>
    <message>
        <source>This undoes %3 of %1 in %2 and restores %4 files.
Files changed again since then are not restored.

Continue?</source>
        <translation>将撤销%1在%2中的%3,恢复%4个文件。
修改之后又被改动过的文件不会恢复。

是否继续?</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>List written to %1</source>
        <translation>目录已写入%1</translation>
    </message>
    <message>
        <source>Cannot write the list %1: %2</source>
        <translation>目录无法写入%1:%2</translation>
    </message>
    <message>
        <source>
These files were not restored:</source>
        <translation>
以下文件未恢复:</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Busy: wait until the current operation ends!</source>
        <translation>正在处理中,请等待当前操作完成!</translation>
    </message>
</context>
</TS>
