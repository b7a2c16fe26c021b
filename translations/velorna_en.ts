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
    <message>
        <source>Scala音階ファイル</source>
        <translation>Scala scale file</translation>
    </message>
    <message>
        <source>キーボード割り当て（なければキャンセル）</source>
        <translation>Keyboard map (Cancel if there is none)</translation>
    </message>
    <message>
        <source>Scala scale (*.scl)</source>
        <translation>Scala scale (*.scl)</translation>
    </message>
    <message>
        <source>Scala keyboard map (*.kbm)</source>
        <translation>Scala keyboard map (*.kbm)</translation>
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
        <source>停止 %1 / %2</source>
        <translation>stopped at %1 of %2</translation>
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
        <source>%1（%2 サンプル）</source>
        <translation>%1 (%2 samples)</translation>
    </message>
    <message>
        <source>音割れのあった曲:</source>
        <translation>Songs with clipped samples:</translation>
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
    <message>
        <source>Scala形式の音階 (.scl) と、あればキーボード割り当て (.kbm) を読み込みます</source>
        <translation>Reads a Scala scale (.scl) and, if there is one, a keyboard map (.kbm)</translation>
    </message>
    <message>
        <source>今の音律を Scala形式 (.scl と .kbm) で書き出します</source>
        <translation>Writes the current tuning in Scala format (.scl and .kbm)</translation>
    </message>
    <message>
        <source>形式:</source>
        <translation>Format:</translation>
    </message>
    <message>
        <source>なし（手入力）</source>
        <translation>None (typed in)</translation>
    </message>
    <message>
        <source>選んだ音律を調の主音の上に置き、12 の値を埋めます</source>
        <translation>Lays the chosen tuning on the key&apos;s tonic and fills in the 12 values</translation>
    </message>
    <message>
        <source>基準ピッチ（A4 の周波数）</source>
        <translation>Reference pitch (the frequency of A4)</translation>
    </message>
    <message>
        <source>適応純正律</source>
        <translation>Adaptive just intonation</translation>
    </message>
    <message>
        <source>曲全体を見て、同時に鳴る音が純正に響くよう音ごとに音高を選びます</source>
        <translation>Chooses each note&apos;s pitch over the whole song so that notes sounding together are pure</translation>
    </message>
    <message>
        <source>音律:</source>
        <translation>Tuning:</translation>
    </message>
    <message>
        <source>A4:</source>
        <translation>A4:</translation>
    </message>
    <message>
        <source>%1 ビット</source>
        <translation>%1 bits</translation>
    </message>
    <message>
        <source>サンプリング周波数：音源はこの周波数で音を作ります</source>
        <translation>Sample rate: the synthesizer renders at this rate</translation>
    </message>
    <message>
        <source>Scala: %1</source>
        <translation>Scala: %1</translation>
    </message>
    <message>
        <source>Scala: %1%2 — %3 音</source>
        <translation>Scala: %1%2 — %3 notes</translation>
    </message>
    <message>
        <source> + %1</source>
        <translation> + %1</translation>
    </message>
    <message>
        <source>：%1</source>
        <translation>: %1</translation>
    </message>
    <message>
        <source>この音律は Scala形式で書き出せません。</source>
        <translation>This tuning cannot be written in Scala format.</translation>
    </message>
    <message>
        <source>・1 セント未満の値（整数に丸められます）</source>
        <translation>• values finer than 1 cent (they are rounded to whole cents)</translation>
    </message>
    <message>
        <source>・Scala の音律（表示中の 1 オクターブだけが残ります）</source>
        <translation>• the Scala tuning (only the octave shown is kept)</translation>
    </message>
    <message>
        <source>・基準ピッチ A4 = %1 Hz（440 Hz として読み込まれます）</source>
        <translation>• the reference pitch A4 = %1 Hz (it is read back as 440 Hz)</translation>
    </message>
    <message>
        <source>・適応純正律の指定</source>
        <translation>• the adaptive intonation choice</translation>
    </message>
    <message>
        <source>設定ファイル (.sca) には次の内容を保存できません。
%1

代わりに Scala形式 (.scl と .kbm) で書き出しますか？</source>
        <translation>A scale file (.sca) cannot hold the following:
%1

Write the tuning in Scala format (.scl and .kbm) instead?</translation>
    </message>
    <message>
        <source>Scala形式で書き出す</source>
        <translation>Export as Scala</translation>
    </message>
    <message>
        <source>.sca に保存する</source>
        <translation>Save as .sca</translation>
    </message>
    <message>
        <source>32 ビット浮動小数点</source>
        <translation>32-bit float</translation>
    </message>
    <message>
        <source>音量そのまま</source>
        <translation>Level as rendered</translation>
    </message>
    <message>
        <source>ピーク -1 dBFS</source>
        <translation>Peak -1 dBFS</translation>
    </message>
    <message>
        <source>-16 LUFS（配信）</source>
        <translation>-16 LUFS (streaming)</translation>
    </message>
    <message>
        <source>-23 LUFS（放送）</source>
        <translation>-23 LUFS (broadcast)</translation>
    </message>
    <message>
        <source>全体の音量：最大の音量を -1 dBFS に、またはラウドネスを目標値にそろえます（トゥルーピークは -1 dBTP 以下）</source>
        <translation>Level of the whole mix: its peak at -1 dBFS, or its loudness at a target (true peak at most -1 dBTP)</translation>
    </message>
    <message>
        <source>.sca 保存</source>
        <translation>Save .sca</translation>
    </message>
    <message>
        <source>.sca 読込</source>
        <translation>Load .sca</translation>
    </message>
    <message>
        <source>12 のずれ（整数セント）と調を 64 バイトの音律ファイル (.sca) に保存します</source>
        <translation>Saves the 12 offsets (whole cents) and the key in a 64-byte scale file (.sca)</translation>
    </message>
    <message>
        <source>音律ファイル (.sca) の 12 のずれと調を読み込みます</source>
        <translation>Loads the 12 offsets and the key from a scale file (.sca)</translation>
    </message>
    <message>
        <source>調:</source>
        <translation>Key:</translation>
    </message>
    <message>
        <source>音律や Scala の音階を置く主音</source>
        <translation>The tonic a tuning or a Scala scale is laid on</translation>
    </message>
    <message>
        <source>各音のずれ（セント、平均律から）:</source>
        <translation>Offset of each note (cents from equal temperament):</translation>
    </message>
    <message>
        <source>Scala 読込</source>
        <translation>Import Scala</translation>
    </message>
    <message>
        <source>Scala 書出</source>
        <translation>Export Scala</translation>
    </message>
    <message>
        <source>未割当</source>
        <translation>unmapped</translation>
    </message>
    <message>
        <source>曲</source>
        <translation>Song</translation>
    </message>
    <message>
        <source>状態</source>
        <translation>State</translation>
    </message>
    <message>
        <source>曲を追加...</source>
        <translation>Add songs...</translation>
    </message>
    <message>
        <source>リストから外す</source>
        <translation>Remove from list</translation>
    </message>
    <message>
        <source>曲 (.mid) をリストに加えます。変換は「変換」で始まります</source>
        <translation>Adds songs (.mid) to the list; &quot;Convert&quot; converts them</translation>
    </message>
    <message>
        <source>待機中</source>
        <translation>waiting</translation>
    </message>
    <message>
        <source>変換中</source>
        <translation>converting</translation>
    </message>
    <message>
        <source>変換中 %1</source>
        <translation>converting %1</translation>
    </message>
    <message>
        <source>完了 → %1</source>
        <translation>done → %1</translation>
    </message>
    <message>
        <source>停止（途中まで保存）→ %1</source>
        <translation>stopped (saved so far) → %1</translation>
    </message>
    <message>
        <source>失敗</source>
        <translation>failed</translation>
    </message>
    <message>
        <source>出力があるため飛ばしました</source>
        <translation>skipped: its output exists</translation>
    </message>
    <message>
        <source>ほか %1 曲</source>
        <translation>and %1 more</translation>
    </message>
    <message>
        <source>出力ファイルが既にあります（%1 曲）。
%2

置き換えますか？</source>
        <translation>Output files exist already (%1 songs).
%2

Replace them?</translation>
    </message>
    <message>
        <source>すべて置き換える</source>
        <translation>Replace all</translation>
    </message>
    <message>
        <source>既存を飛ばす</source>
        <translation>Skip existing</translation>
    </message>
    <message>
        <source>出力があり飛ばした %1 曲</source>
        <translation>%1 skipped (output exists)</translation>
    </message>
</context>
<context>
    <name>velorna::ChannelTuningDlg</name>
    <message>
        <source>パートごとの音律</source>
        <translation>Tuning per part</translation>
    </message>
    <message>
        <source>全体の音律</source>
        <translation>The dialog&apos;s tuning</translation>
    </message>
    <message>
        <source>そのまま（平均律）</source>
        <translation>As the song plays it (equal temperament)</translation>
    </message>
    <message>
        <source>チャンネル %1:</source>
        <translation>Channel %1:</translation>
    </message>
    <message>
        <source>Scala...</source>
        <translation>Scala...</translation>
    </message>
    <message>
        <source>このパートの音律を Scala 音階ファイル（.scl、あればキーボード割り当て .kbm も）から読みます</source>
        <translation>Reads this part&apos;s tuning from a Scala scale file (.scl, and its keyboard map .kbm if there is one)</translation>
    </message>
    <message>
        <source>プリセットと Scala 音階は全体と同じ調と A4 の上に置きます。曲が自分で持つ調律（MTS）が優先します。</source>
        <translation>Presets and Scala scales are laid on the same key and A4 as the dialog&apos;s tuning. The song&apos;s own tuning (MTS) comes first.</translation>
    </message>
</context>
<context>
    <name>velorna::ExportPanel</name>
    <message>
        <source>ピッチベンド</source>
        <translation>Pitch bends</translation>
    </message>
    <message>
        <source>音律の運び方：音ごとのチャンネルとピッチベンド（ベンド幅は RPN で設定）、MPE、または MIDI チューニング規格 (MTS) のメッセージ</source>
        <translation>How the tuning travels: a channel and pitch bend per note (bend range set by RPN), MPE, or MIDI Tuning Standard (MTS) messages</translation>
    </message>
    <message>
        <source>曲の音律を無視</source>
        <translation>Ignore the song&apos;s tuning</translation>
    </message>
    <message>
        <source>曲に含まれる MTS の音律を使わず、選んだ音律ですべての音を鳴らします（変換と書出）</source>
        <translation>Plays every note in the chosen tuning, leaving the song&apos;s own MTS tuning unheard (conversion and export)</translation>
    </message>
    <message>
        <source>MIDI書出</source>
        <translation>Export MIDI</translation>
    </message>
    <message>
        <source>選んだ曲（なければ一覧の全曲）を今の音律で鳴る MIDI ファイルに書き出します</source>
        <translation>Writes the selected songs (none selected: every listed one) as MIDI files that sound the current tuning</translation>
    </message>
    <message>
        <source>MIDI 形式:</source>
        <translation>MIDI form:</translation>
    </message>
    <message>
        <source>MIDI チャンネル（パート）ごとに別の音律を選びます（変換と書出）</source>
        <translation>Chooses a tuning of its own for each MIDI channel (part), for conversion and export</translation>
    </message>
    <message>
        <source>パート別音律...</source>
        <translation>Parts...</translation>
    </message>
    <message>
        <source>パート別音律 (%1)...</source>
        <translation>Parts (%1)...</translation>
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
<context>
    <name>velorna::SongPreview</name>
    <message>
        <source>オルガン</source>
        <translation>Organ</translation>
    </message>
    <message>
        <source>弦楽合奏</source>
        <translation>Strings</translation>
    </message>
    <message>
        <source>合唱</source>
        <translation>Choir</translation>
    </message>
    <message>
        <source>ピアノ</source>
        <translation>Piano</translation>
    </message>
    <message>
        <source>選んだ曲を、今の音律で変換したとおりにスライダーの位置から試聴します</source>
        <translation>Plays the selected song as the conversion would write it in the current tuning, from the slider&apos;s position</translation>
    </message>
    <message>
        <source>試聴する位置</source>
        <translation>Where the preview plays</translation>
    </message>
    <message>
        <source>押すと平均律 (B) で、もう一度押すと選んだ音律 (A) で鳴ります</source>
        <translation>Press for equal temperament (B), press again for the chosen tuning (A)</translation>
    </message>
    <message>
        <source>鍵盤の音名をクリックしたときと和音で鳴らす音色</source>
        <translation>The instrument a clicked key name and the chords sound in</translation>
    </message>
    <message>
        <source>長三和音</source>
        <translation>Major triad</translation>
    </message>
    <message>
        <source>短三和音</source>
        <translation>Minor triad</translation>
    </message>
    <message>
        <source>調の主音の上の三和音を今の音律で鳴らします</source>
        <translation>Sounds the triad on the key&apos;s tonic in the current tuning</translation>
    </message>
    <message>
        <source>試聴:</source>
        <translation>Preview:</translation>
    </message>
    <message>
        <source>試聴の音</source>
        <translation>audition tones</translation>
    </message>
    <message>
        <source>クリックでこの音を今の音律で鳴らします</source>
        <translation>Click to hear this note in the current tuning</translation>
    </message>
    <message>
        <source>一時停止</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>試聴</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>音声の出力先が見つからないため再生できません。</source>
        <translation type="unfinished">Cannot play: no audio output device was found.</translation>
    </message>
</context>
</TS>
