<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>velorna</name>
    <message>
        <source>指定種別のSMFファイル (%1)</source>
        <translation>SMF files of the given kind (%1)</translation>
    </message>
    <message>
        <source>SoundFont (*.sf2 *.sf3)</source>
        <translation>SoundFont (*.sf2 *.sf3)</translation>
    </message>
</context>
<context>
    <name>velorna::CAboutDlg</name>
    <message>
        <source>Velorna のバージョン情報</source>
        <translation>About Velorna</translation>
    </message>
    <message>
        <source>Velorna Version %1

純正律などの音律で MIDI ファイルを WAV に変換します。</source>
        <translation>Velorna Version %1

Converts MIDI files to WAV in just intonation and other tunings.</translation>
    </message>
</context>
<context>
    <name>velorna::CVelornaDlg</name>
    <message>
        <source>変換</source>
        <translation>Convert</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>バージョン情報 Velorna(&amp;A)...</source>
        <translation>About Velorna(&amp;A)...</translation>
    </message>
    <message>
        <source>出力ファイルが入力のMidiファイルと同じになるため、変換できません。
入力: %1
出力: %2</source>
        <translation>Cannot convert: the output file would be the input MIDI file itself.
Input: %1
Output: %2</translation>
    </message>
    <message>
        <source>リセット</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>設定保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>設定読込</source>
        <translation>Load</translation>
    </message>
    <message>
        <source>ヘルプ</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>初期値に戻す</source>
        <translation>Back to defaults</translation>
    </message>
    <message>
        <source>音律・音源・出力先を最初の状態に戻し、覚えた設定を消します</source>
        <translation>Returns the tuning, SoundFont and output folder to their initial state and forgets the remembered settings</translation>
    </message>
    <message>
        <source>既定の音源（FluidR3_GM など）</source>
        <translation>Default SoundFont (FluidR3_GM or the like)</translation>
    </message>
    <message>
        <source>曲と同じフォルダ</source>
        <translation>Same folder as the song</translation>
    </message>
    <message>
        <source>選択...</source>
        <translation>Choose...</translation>
    </message>
    <message>
        <source>音源:</source>
        <translation>SoundFont:</translation>
    </message>
    <message>
        <source>出力先:</source>
        <translation>Output folder:</translation>
    </message>
    <message>
        <source>フォルダを開く</source>
        <translation>Open folder</translation>
    </message>
    <message>
        <source>再生</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>経過:</source>
        <translation>Elapsed:</translation>
    </message>
    <message>
        <source>残り:</source>
        <translation>Remaining:</translation>
    </message>
    <message>
        <source>曲:</source>
        <translation>Song:</translation>
    </message>
    <message>
        <source>進行:</source>
        <translation>Progress:</translation>
    </message>
    <message>
        <source>出力:</source>
        <translation>Output:</translation>
    </message>
    <message>
        <source>%1（%2 / %3 曲目）</source>
        <translation>%1 (song %2 of %3)</translation>
    </message>
    <message>
        <source>%1: 変換できませんでした。</source>
        <translation>%1: not converted.</translation>
    </message>
    <message>
        <source>（%1）</source>
        <translation> (%1)</translation>
    </message>
    <message>
        <source>%1 → %2</source>
        <translation>%1 → %2</translation>
    </message>
    <message>
        <source>変換 %1 曲</source>
        <translation>%1 converted</translation>
    </message>
    <message>
        <source>停止 %1 曲</source>
        <translation>%1 stopped</translation>
    </message>
    <message>
        <source>失敗 %1 曲</source>
        <translation>%1 failed</translation>
    </message>
    <message>
        <source>未処理 %1 曲</source>
        <translation>%1 not started</translation>
    </message>
    <message>
        <source>%1 曲のうち %2。
所要時間 %3</source>
        <translation>Of %1 songs: %2.
Time taken %3</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>音声出力なし</source>
        <translation>No audio output</translation>
    </message>
    <message>
        <source>音声の出力先が見つからないため再生できません。</source>
        <translation>Cannot play: no audio output device was found.</translation>
    </message>
    <message>
        <source>再生を止める</source>
        <translation>Stop playing</translation>
    </message>
    <message>
        <source>フォルダを開けませんでした。</source>
        <translation>Could not open the folder.</translation>
    </message>
    <message>
        <source>変換中です。変換を中止して閉じますか？
中止した曲は、そこまでの内容で保存されます。</source>
        <translation>A conversion is running. Stop it and close?
The song being converted is saved with what has been mixed so far.</translation>
    </message>
    <message>
        <source>停止しています...</source>
        <translation>Stopping...</translation>
    </message>
    <message>
        <source>Velorna ヘルプ</source>
        <translation>Velorna Help</translation>
    </message>
</context>
<context>
    <name>velorna::LanguageMenu</name>
    <message>
        <source>自動（デスクトップの言語）</source>
        <translation>Automatic (the desktop&apos;s language)</translation>
    </message>
    <message>
        <source>日本語</source>
        <translation>日本語 (Japanese)</translation>
    </message>
    <message>
        <source>言語は次に起動したときから変わります。</source>
        <translation>The language changes at the next start.</translation>
    </message>
    <message>
        <source>言語 (Language)</source>
        <translation>Language (言語)</translation>
    </message>
</context>
</TS>
