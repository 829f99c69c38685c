// The help texts of the console modules, line by line (UTF-8).
#pragma once

namespace DBGC {
namespace helptext {

const char* const TOP_HELP[] = {
    "Top Command help -----------------\n",
    "＜共通コマンドヘルプ＞\n",
    "?                   :ヘルプファイル表示 \n",
    "moduleName          :サブモジュールに移動 \n",
    "/moduleName ...     :コマンドの絶対パス指定 \n",
    "..                  :標準モジュールに戻る \n",
    "log                 :デバッグ出力制御 \n",
    "logm                :デバッグ出力一括制御 \n",
    "; or : or #         :コメント（これより右側は実行しない） \n",
    "shutdown            :システム終了 \n",
    "\n",
    "＜モジュール一覧＞\n",
};

// The Top help goes on with one "%-12s%s\n" line per module, then this.
const char* const TOP_HELP_END = "\n";

const char* const THREAD_HELP[] = {
    "Thread Command help -----------------\n",
    " (STA_IDX:start index, END_IDX:end index)\n",
    "help | ?                                                :help\n",
    "tlist                                                   :thread list\n",
    "tlog  {ThreadName|TaskID} [STA_IDX(dec)] [END_IDX(dec)] :thread log\n",
    "tlogc {ThreadName|TaskID}                               :thread log clear\n",
    "\n",
};

const char* const COMPONENT_HELP[] = {
    "help | ?                               : This help\n",
    "add2 [id] [name] [ver] [num_x] [num_y] : Add component. [id]=UniqId, [name]=component name, [ver]=component major "
    "version, [num_x] [num_y]=component size\n",
    "del2 [id]                              : Delete component. [id]=UniqId\n",
    "add  [id] [name] [ver] [num_x] [num_y] : Add component. [id]=UniqId, [name]=component name, [ver]=component major "
    "version, [num_x] [num_y]=component size\n",
    "del  [id]                              : Delete component. [id]=UniqId\n",
    "show [id]                              : Show all parameters. [id]=UniqId\n",
    "get  [id] [addr_str] [x] [y]           : Get parameter value. [id]=UniqId, [addr_str]=parameter address string, "
    "[x] [y]=parameter index\n",
    "set  [id] [addr_str] [x] [y] [val]     : Set parameter value (except Binary).  [id]=UniqId, [addr_str]=parameter "
    "address string, [x] [y]=parameter index [val]=value\n",
    "set  [id] [addr_str] [x] [y] [val(0)] [val(1)] ... [val(N-1)] : Set parameter value (Binary).  [val]=byte value "
    "(2 digit, hexadecimal without '0x' prefix)\n",
    "\n",
    "addconnection    [id_from] [port_from] [id_to] [port_to] : Add Audio Connection.\n",
    "removeconnection [id_from] [port_from] [id_to] [port_to] : Remove Audio Connection.\n",
    "\n",
    "compile                                : Compile the config data.\n",
    "eraseconfig                            : Erase the current config data.\n",
    "applyconfig                            : Apply the config file.\n",
    "\n",
    "setupprocessing [fs_hz] [num_sample_per_frame] [render_samples] : Send setupbuffer and changefs commands to "
    "Player.\n",
    "addcomponent [id]                                               : Send addcomponent and setcoef commands to "
    "Player. (Use after add2)\n",
    "addtoplaylist [play_list_no] [id] [pre_id]                      : Send addtoplaylist command to Player.\n",
    "connect [id_from] [port_from] [id_to] [port_to]                 : Send connect command to Player.\n",
    "startprocessing                                                 : Send startprocessing command to Player.\n",
    "stopprocessing                                                  : Send stopprocessing command to Player.\n",
    "resetcpuinfo                                                    : Send resetcpuinfo command to Player.\n",
    "shutdown                                                        : Send shutdown command to Player.\n",
    "beginconfig                                                     : Send beginconfig command to Player.\n",
    "endconfig                                                       : Send endconfig command to Player.\n",
    "\n",
    "getcoef [id] [coef_id] [pos1] [pos2] [pos3]                     : Get coef value.\n",
    "getrawmeter [id] [meter_id] [pos1] [pos2] [pos3]                : Get raw meter value.\n",
    "\n",
};

const char* const PDB_HELP[] = {
    "help | ?                               : This help\n",
    "save [pdb_id] [file_name]              : Save PDB file.\n",
    "load [pdb_id] [file_name]              : Load PDB file.\n",
    "add2 [id] [name] [ver] [num_x] [num_y] : Add component. [id]=UniqId, [name]=component name, [ver]=component major "
    "version, [num_x] [num_y]=component size\n",
    "del2 [id]                              : Delete component. [id]=UniqId\n",
    "add  [id] [name] [ver] [num_x] [num_y] : Add component. [id]=UniqId, [name]=component name, [ver]=component major "
    "version, [num_x] [num_y]=component size\n",
    "del  [id]                              : Delete component. [id]=UniqId\n",
    "show [id]                              : Show all parameters. [id]=UniqId\n",
    "get  [id] [addr_str] [x] [y]           : Get parameter value. [id]=UniqId, [addr_str]=parameter address string, "
    "[x] [y]=parameter index\n",
    "set  [id] [addr_str] [x] [y] [val]     : Set parameter value (except Binary).  [id]=UniqId, [addr_str]=parameter "
    "address string, [x] [y]=parameter index [val]=value\n",
    "set  [id] [addr_str] [x] [y] [val(0)] [val(1)] ... [val(N-1)] : Set parameter value (Binary).  [val]=byte value "
    "(2 digit, hexadecimal without '0x' prefix)\n",
    "\n",
};

} // namespace helptext
} // namespace DBGC
