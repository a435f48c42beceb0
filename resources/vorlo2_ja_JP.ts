<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>Body</name>
    <message>
        <location filename="../app/body.ui" line="+882"/>
        <source>Raw Image</source>
        <translation>生画像</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>Sinogram</source>
        <translation>サイノグラム</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>CT Reconstructed Image</source>
        <translation>CT再構成画像</translation>
    </message>
    <message>
        <location line="-381"/>
        <location line="+406"/>
        <location filename="../app/body.cpp" line="+191"/>
        <source>I0 Image</source>
        <translation>I0画像</translation>
    </message>
    <message>
        <location line="-416"/>
        <location line="+441"/>
        <location filename="../app/body.cpp" line="+1"/>
        <source>BG Image</source>
        <translation>BG画像</translation>
    </message>
    <message>
        <location filename="../app/body.cpp" line="-83"/>
        <source>Sel. I0 File Set</source>
        <translation>I0ファイルセット選択</translation>
    </message>
    <message>
        <location line="+79"/>
        <source>Measured Raw Image</source>
        <translation>測定生画像</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Check Sinogram</source>
        <translation>サイノグラム確認</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>CT Reconstruction</source>
        <translation>CT再構成</translation>
    </message>
    <message>
        <location line="+102"/>
        <source>CT2 %1</source>
        <translation>CT2 %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>CT Calc2 %1</source>
        <translation>CT計算2 %1</translation>
    </message>
    <message>
        <location line="+655"/>
        <source>Loading first Data Set</source>
        <translation>最初のデータセットを読込中</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Loading next Data Set</source>
        <translation>次のデータセットを読込中</translation>
    </message>
    <message>
        <location filename="../app/body.ui" line="-662"/>
        <source>Calc</source>
        <translation>計算</translation>
    </message>
    <message>
        <location line="+67"/>
        <source>Start</source>
        <translation>開始</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>End</source>
        <translation>終了</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>Spent</source>
        <translation>所要時間</translation>
    </message>
    <message>
        <location line="+85"/>
        <source>Save Setup</source>
        <translation>設定保存</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Load Setup</source>
        <translation>設定読込</translation>
    </message>
    <message>
        <location line="-14"/>
        <source>Row Images</source>
        <translation>生画像</translation>
    </message>
    <message>
        <location line="-397"/>
        <source>Auto Save Data</source>
        <translation>データ自動保存</translation>
    </message>
    <message>
        <location line="+97"/>
        <source>Auto Save Img</source>
        <translation>画像自動保存</translation>
    </message>
    <message>
        <source>Auto Save TIFF</source>
        <translation>TIFF自動保存</translation>
    </message>
    <message>
        <source>Auto Save HDF5</source>
        <translation>HDF5自動保存</translation>
    </message>
    <message>
        <location line="-90"/>
        <source>Save in Sub Folders</source>
        <translation>サブフォルダに保存</translation>
    </message>
    <message>
        <location line="-95"/>
        <source>Vorlo2</source>
        <translation>Vorlo2</translation>
    </message>
    <message>
        <location line="+102"/>
        <source>of Slice</source>
        <translation>スライス別</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>of Energy</source>
        <translation>エネルギー別</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>Upper Limit</source>
        <translation>上限</translation>
    </message>
    <message>
        <location line="+7"/>
        <location line="+28"/>
        <source>10</source>
        <translation>10</translation>
    </message>
    <message>
        <location line="-21"/>
        <source>Lower Limit</source>
        <translation>下限</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>-10</source>
        <translation>-10</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Offset</source>
        <translation>オフセット</translation>
    </message>
    <message>
        <location line="+51"/>
        <source>Fix Color Scale</source>
        <translation>カラースケール固定</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Min</source>
        <translation>最小</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Max</source>
        <translation>最大</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>1</source>
        <translation>1</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Show Res.</source>
        <translation>結果表示</translation>
    </message>
    <message>
        <location line="+31"/>
        <source>CT Image</source>
        <translation>CT画像</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>CT1</source>
        <translation>CT1</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>CT2</source>
        <translation>CT2</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>%v / %m</source>
        <translation>%v / %m</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>Left</source>
        <translation>残り</translation>
    </message>
    <message>
        <location line="+122"/>
        <source>CT Proc. Ctrl</source>
        <translation>CT処理設定</translation>
    </message>
    <message>
        <location line="+120"/>
        <source>Show Additionl Info for CT XAFS</source>
        <translation>CT-XAFS用の追加情報を表示</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>More</source>
        <translation>詳細</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Send Msg.</source>
        <translation>メッセージ送信</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Exec 2DA</source>
        <translation>2DA実行</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Link 2dZelkov</source>
        <translation>2dZelkov接続</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>w 2DA</source>
        <translation>2DAも実行</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>Cont. 2DA</source>
        <translation>2DA連続実行</translation>
    </message>
    <message>
        <location line="+55"/>
        <source>Sequential Exec</source>
        <translation>連続実行</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>From</source>
        <translation>開始</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>To</source>
        <translation>終了</translation>
    </message>
    <message>
        <location line="+60"/>
        <location line="+23"/>
        <source>[s]</source>
        <translation>[s]</translation>
    </message>
    <message>
        <location line="-110"/>
        <source>Seq. Calc.</source>
        <translation>連続計算</translation>
    </message>
    <message>
        <location line="+47"/>
        <source>Keep on New Sets</source>
        <translation>新しいセットでも保持</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Progress Msg.</source>
        <translation>進行状況</translation>
    </message>
    <message>
        <location filename="../app/body.cpp" line="-847"/>
        <source>I0 of Raw Image</source>
        <translation>生画像のI0</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>I0 of I0 Image</source>
        <translation>I0画像のI0</translation>
    </message>
    <message>
        <source>not an image file of a known type</source>
        <translation>既知の形式の画像ファイルではない</translation>
    </message>
    <message>
        <source>the file can&apos;t be read as an image</source>
        <translation>画像として読み込めない</translation>
    </message>
    <message>
        <source>its images are %1 x %2 pixels, the loaded images %3 x %4</source>
        <translation>画像は %1 x %2 ピクセル、読み込み済みの画像は %3 x %4</translation>
    </message>
    <message>
        <source>an image without pixels</source>
        <translation>画素のない画像</translation>
    </message>
    <message>
        <source>%1 files refused, the first: %2 (%3)</source>
        <translation>%1 個のファイルを読み込めません。最初のファイル: %2 (%3)</translation>
    </message>
</context>
<context>
    <name>CBarUI</name>
    <message>
        <location filename="../display/cbar_ui.ui" line="+14"/>
        <source>Frame</source>
        <translation>Frame</translation>
    </message>
    <message>
        <location line="+39"/>
        <source>Fix</source>
        <translation>固定</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Min</source>
        <translation>最小</translation>
    </message>
    <message>
        <location line="+32"/>
        <source>Max</source>
        <translation>最大</translation>
    </message>
</context>
<context>
    <name>CtCalc</name>
    <message>
        <location filename="../ct/ct_calc.ui" line="+6"/>
        <source>CT Calc</source>
        <translation>CT計算</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>Disp R.</source>
        <translation>表示範囲</translation>
    </message>
    <message>
        <location line="+21"/>
        <location line="+40"/>
        <source>-</source>
        <translation>-</translation>
    </message>
    <message>
        <location line="-19"/>
        <source>Cacl R.</source>
        <translation>計算範囲</translation>
    </message>
    <message>
        <location line="+38"/>
        <source>Set To C. Region</source>
        <translation>計算範囲に設定</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>Calc</source>
        <translation>計算</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>At Once</source>
        <translation>一括計算</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Slice No.</source>
        <translation>スライス番号</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Start</source>
        <translation>開始</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>End</source>
        <translation>終了</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Spent [sec]</source>
        <translation>所要時間 [sec]</translation>
    </message>
</context>
<context>
    <name>CtCalc2Ui</name>
    <message>
        <location filename="../ct/ct_calc2_ui.ui" line="+14"/>
        <source>CT Calc2</source>
        <translation>CT計算2</translation>
    </message>
    <message>
        <location line="+30"/>
        <source>Disp R.</source>
        <translation>表示範囲</translation>
    </message>
    <message>
        <location line="+13"/>
        <location line="+19"/>
        <location line="+13"/>
        <location line="+13"/>
        <location line="+19"/>
        <location line="+26"/>
        <location line="+16"/>
        <location line="+10"/>
        <location line="+13"/>
        <location line="+16"/>
        <source>-</source>
        <translation>-</translation>
    </message>
    <message>
        <location line="-68"/>
        <source>Cacl R.</source>
        <translation>計算範囲</translation>
    </message>
    <message>
        <location line="+78"/>
        <source>Set To C. Region</source>
        <translation>計算範囲に設定</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Calc</source>
        <translation>計算</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>At Once</source>
        <translation>一括計算</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>Slice No.</source>
        <translation>スライス番号</translation>
    </message>
    <message>
        <location line="+13"/>
        <location line="+78"/>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <location line="-65"/>
        <source>Start</source>
        <translation>開始</translation>
    </message>
    <message>
        <location line="+26"/>
        <source>End</source>
        <translation>終了</translation>
    </message>
    <message>
        <location line="+26"/>
        <source>Spent [sec]</source>
        <translation>所要時間 [sec]</translation>
    </message>
</context>
<context>
    <name>DispAWLayout</name>
    <message>
        <location filename="../display/disp_a_w_layout.ui" line="+14"/>
        <source>Frame</source>
        <translation>Frame</translation>
    </message>
</context>
<context>
    <name>I0ofImage</name>
    <message>
        <location filename="../xafs/i0_of_image.ui" line="+14"/>
        <source>Frame</source>
        <translation>Frame</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>I0 of Image</source>
        <translation>画像のI0</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>1.0</source>
        <translation>1.0</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>Calc from XAFS file</source>
        <translation>XAFSファイルから計算</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>Eng. Ptn in Img F. Name :</source>
        <translation>画像ファイル名のエネルギー部分 :</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>####_####</source>
        <translation>####_####</translation>
    </message>
</context>
<context>
    <name>ImgDispWCBar</name>
    <message>
        <location filename="../display/img_disp_w_cbar.cpp" line="+12"/>
        <source>Image Display with Color Bar</source>
        <translation>カラーバー付き画像表示</translation>
    </message>
</context>
<context>
    <name>ImgDispWPV</name>
    <message>
        <location filename="../display/img_disp_wpv.ui" line="+14"/>
        <location filename="../display/img_disp_wpv.cpp" line="+15"/>
        <source>Image Display with Position and Value</source>
        <translation>位置・値付き画像表示</translation>
    </message>
    <message>
        <location line="+36"/>
        <source>X</source>
        <translation>X</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>Y</source>
        <translation>Y</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>Val:</source>
        <translation>値:</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>Scale Reset</source>
        <translation>スケールリセット</translation>
    </message>
</context>
<context>
    <name>PopDockBase</name>
    <message>
        <location filename="../display/pop_dock_base.ui" line="+14"/>
        <source>Frame</source>
        <translation>Frame</translation>
    </message>
    <message>
        <location line="+55"/>
        <source>Pop/Dock</source>
        <translation>分離/格納</translation>
    </message>
</context>
<context>
    <name>ProcCtrl</name>
    <message>
        <location filename="../ct/proc_ctrl.ui" line="+9"/>
        <source>Proc Control</source>
        <translation>処理設定</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>Slice : </source>
        <translation>スライス : </translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Current</source>
        <translation>現在</translation>
    </message>
    <message>
        <location line="+5"/>
        <location line="+87"/>
        <source>1000</source>
        <translation>1000</translation>
    </message>
    <message>
        <location line="-78"/>
        <source>Angle Offset [deg]</source>
        <translation>角度オフセット [deg]</translation>
    </message>
    <message>
        <location line="+5"/>
        <location line="+17"/>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <location line="-8"/>
        <source>Auto Exec</source>
        <translation>自動実行</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>From</source>
        <translation>開始</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>To</source>
        <translation>終了</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>2047</source>
        <translation>2047</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Step</source>
        <translation>ステップ</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>1</source>
        <translation>1</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Threads</source>
        <translation>スレッド数</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>/32</source>
        <translation>/32</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>Rotation : </source>
        <translation>回転 : </translation>
    </message>
    <message>
        <location line="+3"/>
        <source>  Center</source>
        <translation>  中心</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>  Ax</source>
        <translation>  軸</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>H</source>
        <translation>H</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>V</source>
        <translation>V</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Record</source>
        <translation>記録</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>Clear</source>
        <translation>クリア</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Auto Update Sinogram</source>
        <translation>サイノグラム自動更新</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>Center Search : </source>
        <translation>中心探索 : </translation>
    </message>
    <message>
        <location line="+39"/>
        <source>Try CoR</source>
        <translation>CoR試行</translation>
    </message>
    <message>
        <location filename="../ct/proc_ctrl.ui" line="220"/>
        <source>Find CoR</source>
        <translation>CoR自動検出</translation>
    </message>
    <message>
        <location filename="../ct/proc_ctrl.ui" line="226"/>
        <source>Filter :</source>
        <translation>フィルタ :</translation>
    </message>
    <message>
        <location filename="../ct/proc_ctrl.ui" line="230"/>
        <source>Ramp</source>
        <translation>ランプ</translation>
    </message>
    <message>
        <location filename="../ct/proc_ctrl.ui" line="231"/>
        <source>Ramp (padded)</source>
        <translation>ランプ (ゼロ詰め)</translation>
    </message>
    <message>
        <location filename="../ct/proc_ctrl.ui" line="232"/>
        <source>Shepp-Logan</source>
        <translation>Shepp-Logan</translation>
    </message>
    <message>
        <location filename="../ct/proc_ctrl.ui" line="233"/>
        <source>Cosine</source>
        <translation>コサイン</translation>
    </message>
    <message>
        <location filename="../ct/proc_ctrl.ui" line="234"/>
        <source>Hamming</source>
        <translation>ハミング</translation>
    </message>
    <message>
        <location filename="../ct/proc_ctrl.ui" line="235"/>
        <source>Hann</source>
        <translation>ハン</translation>
    </message>
    <message>
        <location filename="../ct/proc_ctrl.ui" line="242"/>
        <source>Ring Removal</source>
        <translation>リング除去</translation>
    </message>
    <message>
        <location filename="../ct/proc_ctrl.ui" line="242"/>
        <source>Method :</source>
        <translation>再構成法 :</translation>
    </message>
    <message>
        <location filename="../ct/proc_ctrl.ui" line="246"/>
        <source>FBP</source>
        <translation>FBP (逆投影)</translation>
    </message>
    <message>
        <location filename="../ct/proc_ctrl.ui" line="247"/>
        <source>Fourier</source>
        <translation>フーリエ</translation>
    </message>
</context>
<context>
    <name>SeekCtrl</name>
    <message>
        <location filename="../select/seek_ctrl.ui" line="+14"/>
        <source>Frame</source>
        <translation>Frame</translation>
    </message>
    <message>
        <location line="+18"/>
        <location line="+23"/>
        <source>...</source>
        <translation>...</translation>
    </message>
</context>
<context>
    <name>SelectAFile</name>
    <message>
        <location filename="../select/select_a_file.ui" line="+14"/>
        <source>Frame</source>
        <translation>Frame</translation>
    </message>
    <message>
        <location line="+24"/>
        <source>Select</source>
        <translation>選択</translation>
    </message>
    <message>
        <location line="+34"/>
        <source>Clear</source>
        <translation>クリア</translation>
    </message>
    <message>
        <location filename="../select/select_a_file.cpp" line="+36"/>
        <source>Img file (*.img)</source>
        <translation>Imgファイル (*.img)</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Tiff file (*.tif *.tiff)</source>
        <translation>Tiffファイル (*.tif *.tiff)</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>HDF5 file (*.h5 *.hdf5 *.hdf *.nxs)</source>
        <translation>HDF5ファイル (*.h5 *.hdf5 *.hdf *.nxs)</translation>
    </message>
    <message>
        <location line="+0"/>
        <location line="+4"/>
        <source>Any file (* *.*)</source>
        <translation>すべてのファイル (* *.*)</translation>
    </message>
</context>
<context>
    <name>SelectAImgFileBase</name>
    <message>
        <location filename="../select/select_a_img_file_base.ui" line="+14"/>
        <source>Frame</source>
        <translation>Frame</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>Exp Time</source>
        <translation>露光時間</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>[s]</source>
        <translation>[s]</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Show Img</source>
        <translation>画像表示</translation>
    </message>
</context>
<context>
    <name>SelectDataDir</name>
    <message>
        <location filename="../select/select_data_dir.ui" line="+14"/>
        <source>Frame</source>
        <translation>Frame</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>ASR Std.</source>
        <translation>ASR標準</translation>
    </message>
    <message>
        <location line="+30"/>
        <source>Next</source>
        <translation>次へ</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Set</source>
        <translation>設定</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Pattern</source>
        <translation>パターン</translation>
    </message>
    <message>
        <location filename="../select/select_data_dir.cpp" line="+13"/>
        <source>Sel. Data Dir.</source>
        <translation>データディレクトリ選択</translation>
    </message>
</context>
<context>
    <name>SelectDataFiles</name>
    <message>
        <location filename="../select/select_data_files.ui" line="+14"/>
        <source>Frame</source>
        <translation>Frame</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>Data Select</source>
        <translation>データ選択</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>New</source>
        <translation>新規</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>Add</source>
        <translation>追加</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>keep Conds.</source>
        <translation>条件保持</translation>
    </message>
    <message>
        <location line="+33"/>
        <source>Clear</source>
        <translation>クリア</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Exp. Time[s]</source>
        <translation>露光時間[s]</translation>
    </message>
    <message>
        <location line="+33"/>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;When Checked : The first file in the list will be read multitimes ( ex. 180 times )&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;チェック時 : リストの最初のファイルを複数回読み込みます ( 例. 180 回 )&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Multi.</source>
        <translation>複数回</translation>
    </message>
    <message>
        <location filename="../select/select_data_files.cpp" line="+32"/>
        <source>Itex File (*.img)</source>
        <translation>ITEXファイル (*.img)</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Tiff File (*.tif *.tiff)</source>
        <translation>TIFFファイル (*.tif *.tiff)</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>HDF5 File (*.h5 *.hdf5 *.hdf *.nxs)</source>
        <translation>HDF5ファイル (*.h5 *.hdf5 *.hdf *.nxs)</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>Any Files (* *.*)</source>
        <translation>すべてのファイル (* *.*)</translation>
    </message>
    <message>
        <source>%1 files: %2 ... %3</source>
        <translation>%1 ファイル: %2 ... %3</translation>
    </message>
    <message>
        <source>Files were refused</source>
        <translation>読み込めないファイルがありました</translation>
    </message>
</context>
<context>
    <name>SelectDir</name>
    <message>
        <location filename="../select/select_dir.ui" line="+14"/>
        <source>Frame</source>
        <translation>Frame</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>Sel. Dir</source>
        <translation>ディレクトリ選択</translation>
    </message>
</context>
<context>
    <name>Sinogram</name>
    <message>
        <location filename="../ct/sinogram.ui" line="+9"/>
        <source>Sinogram</source>
        <translation>サイノグラム</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>Gen Image</source>
        <translation>画像生成</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>CoR</source>
        <translation>回転中心</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>1000</source>
        <translation>1000</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Gen Fou. Sinogram</source>
        <translation>フーリエサイノグラム生成</translation>
    </message>
</context>
<context>
    <name>XafsBatch</name>
    <message>
        <location filename="../xafs/xafs_batch.cpp" line="+44"/>
        <source>Data Loading</source>
        <translation>データ読込中</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>Calculating</source>
        <translation>計算中</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>Finished Calc.</source>
        <translation>計算終了</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>Finished</source>
        <translation>終了</translation>
    </message>
</context>
<context>
    <name>SelectAImgFile</name>
    <message>
        <source>Not an image file of a known type</source>
        <translation>既知の形式の画像ファイルではありません</translation>
    </message>
    <message>
        <source>The file can&apos;t be read as an image</source>
        <translation>画像として読み込めないファイルです</translation>
    </message>
</context>
</TS>
