<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>Messages</name>
    <message>
        <source>%1 曲を MIDI ファイルに書き出しました。</source>
        <translation>%1 songs written as MIDI files.</translation>
    </message>
    <message>
        <source>%1 曲中 %2 曲を MIDI ファイルに書き出しました。</source>
        <translation>%2 of %1 songs written as MIDI files.</translation>
    </message>
    <message>
        <source>音割れ %1 曲:</source>
        <translation>clipped samples in %1 of them:</translation>
    </message>
    <message>
        <source>%1 曲: 変換 %2、失敗 %3</source>
        <translation>%1 songs: %2 converted, %3 failed</translation>
    </message>
    <message>
        <source>%1 曲: 変換 %2、失敗 %3、停止 %4</source>
        <translation>%1 songs: %2 converted, %3 failed, %4 stopped</translation>
    </message>
    <message>
        <source>%1 曲: 変換 %2、失敗 %3、スキップ %4</source>
        <translation>%1 songs: %2 converted, %3 failed, %4 skipped</translation>
    </message>
    <message>
        <source>%1 曲: 変換 %2、失敗 %3、スキップ %4、停止 %5</source>
        <translation>%1 songs: %2 converted, %3 failed, %4 skipped, %5 stopped</translation>
    </message>
    <message>
        <source>停止しました。未完成の出力は削除しました。</source>
        <translation>stopped; its unfinished output was removed</translation>
    </message>
    <message>
        <source>出力が既にあるため飛ばしました:</source>
        <translation>skipped; its output exists:</translation>
    </message>
    <message>
        <source>何も書き出す前に停止しました。元のままの出力先:</source>
        <translation>stopped before anything was mixed; left as it was:</translation>
    </message>
    <message>
        <source>変換できませんでした。</source>
        <translation>not converted</translation>
    </message>
    <message>
        <source>停止しました。ここまでの内容の出力先:</source>
        <translation>stopped; what was mixed is in</translation>
    </message>
    <message>
        <source>%1 個中 %2 個</source>
        <translation>%2 of %1</translation>
    </message>
    <message>
        <source>%1％</source>
        <translation>%1%</translation>
    </message>
    <message>
        <source>1/4 コンマ中全音律</source>
        <translation>1/4-comma meantone</translation>
    </message>
    <message>
        <source>1/6 コンマ中全音律</source>
        <translation>1/6-comma meantone</translation>
    </message>
    <message>
        <source>MIDIファイルではないか、マックバイナリがついているファイルです。</source>
        <translation>Not a MIDI file, or a file with a MacBinary header.</translation>
    </message>
    <message>
        <source>MidiEventでエラーが発生しました。</source>
        <translation>An error occurred in a MIDI event.</translation>
    </message>
    <message>
        <source>Midiのトラックデータでエラーが発生しました。</source>
        <translation>An error occurred in the MIDI track data.</translation>
    </message>
    <message>
        <source>Midiのトラックデータでテンポデータの異常が検出されました。</source>
        <translation>Faulty tempo data was found in the MIDI track data.</translation>
    </message>
    <message>
        <source>Midiのトラックデータで内部エラーが発生しました。</source>
        <translation>An internal error occurred in the MIDI track data.</translation>
    </message>
    <message>
        <source>Midiのフォーマット0のデータで内部エラーが発生しました。</source>
        <translation>An internal error occurred in the MIDI format 0 data.</translation>
    </message>
    <message>
        <source>Midiのフォーマット１のデータでエラーが発生しました。</source>
        <translation>An error occurred in the MIDI format 1 data.</translation>
    </message>
    <message>
        <source>Midiのフォーマット１のデータで内部エラーが発生しました。</source>
        <translation>An internal error occurred in the MIDI format 1 data.</translation>
    </message>
    <message>
        <source>Midiファイルが開けませんでした。</source>
        <translation>Could not open the MIDI file.</translation>
    </message>
    <message>
        <source>Midiファイルではありません。</source>
        <translation>Not a MIDI file.</translation>
    </message>
    <message>
        <source>Midiファイルではないか、ファイルにマックバイナリがついています。</source>
        <translation>Not a MIDI file, or the file has a MacBinary header.</translation>
    </message>
    <message>
        <source>Midiファイルの読み込みでデータが大きすぎてロードできませんでした。</source>
        <translation>The MIDI file's data is too large to load.</translation>
    </message>
    <message>
        <source>Midiファイルの読み込みで内部エラーが発生しました。</source>
        <translation>An internal error occurred while reading the MIDI file.</translation>
    </message>
    <message>
        <source>このアルゴリズムで、トップノートは間引かないという機能は未実装です。(無視されます。)</source>
        <translation>Keeping the top note when thinning is not implemented in this algorithm (ignored).</translation>
    </message>
    <message>
        <source>の %1 行目</source>
        <translation>(line %1)</translation>
    </message>
    <message>
        <source>イベントのデータでエラーが発生しました。</source>
        <translation>An error occurred in an event's data.</translation>
    </message>
    <message>
        <source>イベントのデータサイズが大きすぎます。MFiの機種依存の音色設定が含まれている場合は問題ありません。</source>
        <translation>An event's data is too large. This does no harm if the file holds device-specific MFi voice settings.</translation>
    </message>
    <message>
        <source>エラー発生</source>
        <translation>Error in</translation>
    </message>
    <message>
        <source>オクターブの音度</source>
        <translation>scale degree of the octave</translation>
    </message>
    <message>
        <source>キルンベルガー第 3 技法</source>
        <translation>Kirnberger III</translation>
    </message>
    <message>
        <source>サイズが大きすぎるイベントが含まれています。</source>
        <translation>The song contains an event that is too large.</translation>
    </message>
    <message>
        <source>システムエクスクルーシブに異常が発生しました。</source>
        <translation>A fault occurred in a system exclusive message.</translation>
    </message>
    <message>
        <source>システムチャネルが重複しています。</source>
        <translation>The system channel is given twice.</translation>
    </message>
    <message>
        <source>メモリの上限に合わせてスレッド数を %1 から %2 に減らしました。</source>
        <translation>The threads were lowered from %1 to %2 to stay within the memory bound.</translation>
    </message>
    <message>
        <source>ソフトウェア音源が使用できません。</source>
        <translation>The software synthesizer cannot be used.</translation>
    </message>
    <message>
        <source>チャネルが重複しています。</source>
        <translation>A channel is given twice.</translation>
    </message>
    <message>
        <source>チャネルに異常が発生しました。</source>
        <translation>A fault occurred in a channel.</translation>
    </message>
    <message>
        <source>チャネルに誤りがあります。</source>
        <translation>A channel is wrong.</translation>
    </message>
    <message>
        <source>チャネルボリュームに異常が発生しました。</source>
        <translation>A fault occurred in a channel volume.</translation>
    </message>
    <message>
        <source>チャネル数で異常が発生しました。</source>
        <translation>A fault occurred in the number of channels.</translation>
    </message>
    <message>
        <source>テキストファイルではありません。</source>
        <translation>Not a text file.</translation>
    </message>
    <message>
        <source>テンポに誤りがあります。</source>
        <translation>A tempo is wrong.</translation>
    </message>
    <message>
        <source>データが大きすぎます。</source>
        <translation>The data is too large.</translation>
    </message>
    <message>
        <source>データの処理で異常が発生しました。</source>
        <translation>A fault occurred while processing the data.</translation>
    </message>
    <message>
        <source>データの追加で異常が発生しました。</source>
        <translation>A fault occurred while adding data.</translation>
    </message>
    <message>
        <source>データの追加に失敗しました。</source>
        <translation>Adding data failed.</translation>
    </message>
    <message>
        <source>データの量が多すぎます。</source>
        <translation>There is too much data.</translation>
    </message>
    <message>
        <source>データ操作に異常が発生しました。</source>
        <translation>A fault occurred while handling data.</translation>
    </message>
    <message>
        <source>データ編集の処理に異常が発生しました。</source>
        <translation>A fault occurred while editing data.</translation>
    </message>
    <message>
        <source>データ追加に異常が発生しました。</source>
        <translation>A fault occurred in adding data.</translation>
    </message>
    <message>
        <source>トラックに異常が発生しました。</source>
        <translation>A fault occurred in a track.</translation>
    </message>
    <message>
        <source>トラックの結合で異常が発生しました。</source>
        <translation>A fault occurred while joining tracks.</translation>
    </message>
    <message>
        <source>トラック数のエラーです。</source>
        <translation>The number of tracks is wrong.</translation>
    </message>
    <message>
        <source>ドラムで指定されている音が35(バスドラ)～81(オープントライアングル)の範囲内にありません。範囲内に調整しました。</source>
        <translation>A drum note lies outside 35 (bass drum) to 81 (open triangle); it was brought into that range.</translation>
    </message>
    <message>
        <source>ドラムにプログラムチェンジが設定されています。(または、チャネル10以外をドラムとして使用するシステムエクスクルーシブが設定されています。)</source>
        <translation>The drums have a program change (or a system exclusive message makes a channel other than 10 a drum channel).</translation>
    </message>
    <message>
        <source>ドラムのバンクセレクトで０以外の値が設定されていました。</source>
        <translation>The drums had a bank select other than 0.</translation>
    </message>
    <message>
        <source>ドラムトラックがありませんでした。</source>
        <translation>There was no drum track.</translation>
    </message>
    <message>
        <source>ノートオフが重複していました。</source>
        <translation>A note-off was given twice.</translation>
    </message>
    <message>
        <source>ノートオンが重複していました。</source>
        <translation>A note-on was given twice.</translation>
    </message>
    <message>
        <source>ノートナンバーの異常が検出されました。</source>
        <translation>A faulty note number was found.</translation>
    </message>
    <message>
        <source>ピタゴラス音律</source>
        <translation>Pythagorean tuning</translation>
    </message>
    <message>
        <source>ピッチベンドの処理に異常が発生しました。</source>
        <translation>A fault occurred while processing pitch bends.</translation>
    </message>
    <message>
        <source>ピッチベンドセンシティビティに０が設定されているトラックがありました。</source>
        <translation>A track had a pitch bend sensitivity of 0.</translation>
    </message>
    <message>
        <source>ファイルが大きすぎます。</source>
        <translation>The file is too large.</translation>
    </message>
    <message>
        <source>ファイルが見つかりませんでした。</source>
        <translation>The file was not found.</translation>
    </message>
    <message>
        <source>読み込まれた FluidSynth は想定どおりの音高で鳴らないため、ピッチベンドだけで調律します（1 セントほどずれることがあります）。</source>
        <translation>The loaded FluidSynth does not sound pitch as expected: notes are tuned by pitch bends alone (they may be off by about a cent).</translation>
    </message>
    <message>
        <source>適応純正律は、1 オクターブが 12 音の音律にだけ使えます。</source>
        <translation>Adaptive intonation works only with a tuning of twelve notes to the octave.</translation>
    </message>
    <message>
        <source>%1 個の音は同時に鳴る音が多すぎて自分のチャンネルを得られませんでした（最初は %2 秒）。余韻だけが残るチャンネルか、同じパートで最も近いベンドのチャンネルで鳴らします（最大 %3 セントのずれ）。</source>
        <translation>%1 notes found no channel of their own, too many sounding at once (the first at %2 s). They sound on a channel whose notes are only ringing out, or on the channel of their part with the nearest bend (at most %3 cents off).</translation>
    </message>
    <message>
        <source>%1 個のピッチベンドがベンド幅 %2 半音に収まらず、端で止めました（--bend-range で広げられます）。</source>
        <translation>%1 pitch bends did not fit the bend range of %2 semitones and were held at its end (--bend-range widens it).</translation>
    </message>
    <message>
        <source>書き出したファイルは %1 バイトで、Velorna が読み込める %2 バイトを超えます。ほかのシンセサイザーや DAW では開けますが、Velorna では開けません（--as bends や mts ならより小さくなります）。</source>
        <translation>The exported file is %1 bytes, more than the %2 bytes Velorna reads: other synthesizers and DAWs open it, Velorna does not (--as bends or mts make it smaller).</translation>
    </message>
    <message>
        <source>書き出したファイルを Velorna で読み込むと %1 個の音のうち %2 個しか残りません（1 曲に入るイベント数を超えます）。ほかのシンセサイザーや DAW ではすべて鳴ります。</source>
        <translation>Read by Velorna, the exported file keeps only %2 of its %1 notes (more events than a song holds); other synthesizers and DAWs play them all.</translation>
    </message>
    <message>
        <source>%1 個の音は、同じ鍵盤が別の音高で鳴っている間に始まりました。鳴っている音も新しい音高に合わせます。</source>
        <translation>%1 notes started while their key was sounding at another pitch; the sounding note follows the new pitch.</translation>
    </message>
    <message>
        <source>ファイルが開けませんでした。</source>
        <translation>Could not open the file.</translation>
    </message>
    <message>
        <source>ファイルが開けませんでした。ファイルリストを絶対パスで記述してみてください。
あるいは、出力フォルダや作業フォルダの設定などを確認してください。</source>
        <translation>Could not open the file. Try giving the file list with absolute paths,
or check the output folder and the working folder.</translation>
    </message>
    <message>
        <source>ファイルを開けませんでした。</source>
        <translation>Could not open the file.</translation>
    </message>
    <message>
        <source>ファイルサイズにエラーがあります。</source>
        <translation>The file size is wrong.</translation>
    </message>
    <message>
        <source>フォーマットが違う音声ファイルを処理しようとしました。</source>
        <translation>An audio file of a different format was to be processed.</translation>
    </message>
    <message>
        <source>フォーマット１ではありません。</source>
        <translation>Not format 1.</translation>
    </message>
    <message>
        <source>プログラムチェンジが設定されていないトラックがありましたので０を設定しました。</source>
        <translation>A track had no program change; program 0 was set.</translation>
    </message>
    <message>
        <source>プログラムチェンジに異常が発生しました。</source>
        <translation>A fault occurred in a program change.</translation>
    </message>
    <message>
        <source>プログラム・チェンジで不正な番号がありました。0に調整しました。</source>
        <translation>A program change had an invalid number; it was set to 0.</translation>
    </message>
    <message>
        <source>マスターボリュームが複数設定されています。</source>
        <translation>The master volume is set more than once.</translation>
    </message>
    <message>
        <source>マスターボリュームが設定されていませんでしたので127を設定しました。</source>
        <translation>No master volume was set; 127 was set.</translation>
    </message>
    <message>
        <source>マップの大きさ</source>
        <translation>map size</translation>
    </message>
    <message>
        <source>メモリが不足しています。</source>
        <translation>Out of memory.</translation>
    </message>
    <message>
        <source>ヤング (1799)</source>
        <translation>Young (1799)</translation>
    </message>
    <message>
        <source>ヴァロッティ</source>
        <translation>Vallotti</translation>
    </message>
    <message>
        <source>ヴェルクマイスター第 3 技法</source>
        <translation>Werckmeister III</translation>
    </message>
    <message>
        <source>不明なタグが検出されました。処理は継続可能です。</source>
        <translation>An unknown tag was found. Processing can go on.</translation>
    </message>
    <message>
        <source>中央のキー</source>
        <translation>middle key</translation>
    </message>
    <message>
        <source>中央音の検出に失敗しました。</source>
        <translation>The middle note could not be found.</translation>
    </message>
    <message>
        <source>値の異常が発生しました。</source>
        <translation>A faulty value occurred.</translation>
    </message>
    <message>
        <source>内部データに異常が発生しました。</source>
        <translation>A fault occurred in the internal data.</translation>
    </message>
    <message>
        <source>内部処理のエラーでノートナンバーが異常になりましたので０に修正しました。</source>
        <translation>An internal error made a note number faulty; it was set to 0.</translation>
    </message>
    <message>
        <source>出力が大きすぎます。</source>
        <translation>The output is too large.</translation>
    </message>
    <message>
        <source>和音数に異常が発生しました。</source>
        <translation>A fault occurred in the number of simultaneous notes.</translation>
    </message>
    <message>
        <source>和音数の処理に異常が発生しました。</source>
        <translation>A fault occurred while processing the number of simultaneous notes.</translation>
    </message>
    <message>
        <source>基準キー</source>
        <translation>reference key</translation>
    </message>
    <message>
        <source>基準キーに音が割り当てられていません。</source>
        <translation>The reference key has no pitch mapped to it.</translation>
    </message>
    <message>
        <source>基準周波数</source>
        <translation>reference frequency</translation>
    </message>
    <message>
        <source>変換が終了しました。</source>
        <translation>Conversion finished.</translation>
    </message>
    <message>
        <source>対応表の項目が大きさより多くなっています。</source>
        <translation>The mapping has more entries than its size.</translation>
    </message>
    <message>
        <source>項目の間に空行があります。</source>
        <translation>A blank line stands among the entries.</translation>
    </message>
    <message>
        <source>対応表の項目を読み取れません。</source>
        <translation>Cannot read a mapping entry.</translation>
    </message>
    <message>
        <source>平均律</source>
        <translation>Equal temperament</translation>
    </message>
    <message>
        <source>扱えない拍子記号が含まれていました。</source>
        <translation>The song contained a time signature that cannot be handled.</translation>
    </message>
    <message>
        <source>拍子に異常が発生しました。</source>
        <translation>A fault occurred in a time signature.</translation>
    </message>
    <message>
        <source>最初のキー</source>
        <translation>first key</translation>
    </message>
    <message>
        <source>最後のキー</source>
        <translation>last key</translation>
    </message>
    <message>
        <source>最後のキー &lt; 最初のキー</source>
        <translation>last key &lt; first key</translation>
    </message>
    <message>
        <source>最後の音程 (周期) が 0 より大きくありません。</source>
        <translation>The last interval (the period) is not greater than 0.</translation>
    </message>
    <message>
        <source>未定義のMIDIイベントが含まれていました。</source>
        <translation>The song contained an undefined MIDI event.</translation>
    </message>
    <message>
        <source>比は正の数でなければなりません。</source>
        <translation>A ratio must be positive.</translation>
    </message>
    <message>
        <source>演奏データが異常です。</source>
        <translation>The performance data is faulty.</translation>
    </message>
    <message>
        <source>演奏データの分割に失敗しました。</source>
        <translation>Splitting the performance data failed.</translation>
    </message>
    <message>
        <source>演奏開始の異常が発生しました。</source>
        <translation>A fault occurred at the start of the performance.</translation>
    </message>
    <message>
        <source>純正律 (5 リミット)</source>
        <translation>Just intonation (5-limit)</translation>
    </message>
    <message>
        <source>行が長すぎます。</source>
        <translation>A line is too long.</translation>
    </message>
    <message>
        <source>複数のSysExTrackがあります。</source>
        <translation>There is more than one SysEx track.</translation>
    </message>
    <message>
        <source>複数のマスターボリュームが設定されています。</source>
        <translation>More than one master volume is set.</translation>
    </message>
    <message>
        <source>複数プログラムチェンジのトラックを分割しようとしましたが、使用できるチャネルがありませんでした。</source>
        <translation>A track with several program changes was to be split, but no channel was free.</translation>
    </message>
    <message>
        <source>設定されているテンポの数が多すぎます。</source>
        <translation>There are too many tempo changes.</translation>
    </message>
    <message>
        <source>設定ファイルの形式が正しくありません。</source>
        <translation>The scale file's format is not correct.</translation>
    </message>
    <message>
        <source>設定ファイルを保存できませんでした。</source>
        <translation>Could not save the scale file.</translation>
    </message>
    <message>
        <source>説明の行がありません。</source>
        <translation>The description line is missing.</translation>
    </message>
    <message>
        <source>通常のファイルではありません。</source>
        <translation>Not a regular file.</translation>
    </message>
    <message>
        <source>開始位置で異常が発生しました。</source>
        <translation>A fault occurred at the start position.</translation>
    </message>
    <message>
        <source>音の数が 1 以上の整数ではありません。</source>
        <translation>The number of notes is not a whole number of 1 or more.</translation>
    </message>
    <message>
        <source>音の数が多すぎます。</source>
        <translation>There are too many notes.</translation>
    </message>
    <message>
        <source>音の数の行がありません。</source>
        <translation>The line with the number of notes is missing.</translation>
    </message>
    <message>
        <source>音声ファイルが壊れています。</source>
        <translation>The audio file is damaged.</translation>
    </message>
    <message>
        <source>音程が大きすぎます。</source>
        <translation>An interval is too large.</translation>
    </message>
    <message>
        <source>音程の行が音の数より多くなっています。</source>
        <translation>There are more interval lines than notes.</translation>
    </message>
    <message>
        <source>音程の行が音の数より少なくなっています。</source>
        <translation>There are fewer interval lines than notes.</translation>
    </message>
    <message>
        <source>音程を読み取れません。</source>
        <translation>Cannot read an interval.</translation>
    </message>
    <message>
        <source>音符に異常が発生しました。</source>
        <translation>A fault occurred in a note.</translation>
    </message>
    <message>
        <source>項目が足りません。</source>
        <translation>A field is missing.</translation>
    </message>
    <message>
        <source>項目の値が範囲外です。</source>
        <translation>A field's value is out of range.</translation>
    </message>
    <message>
        <source>項目の値を読み取れません。</source>
        <translation>Cannot read a field's value.</translation>
    </message>
    <message>
        <source>１つのトラックに複数のピッチベンドセンシティビティが設定されていました。</source>
        <translation>One track had more than one pitch bend sensitivity.</translation>
    </message>
    <message>
        <source>%1 個のサンプルがクリップしました。ノーマライズ、ラウドネス、またはゲインで音量を下げると避けられます (--normalize、--loudness、--gain)。</source>
        <translation>%1 samples clipped. Normalizing, a loudness target or a lower gain avoids it (--normalize, --loudness, --gain).</translation>
    </message>
    <message>
        <source>ピーク</source>
        <translation>peak</translation>
    </message>
    <message>
        <source>ラウドネス</source>
        <translation>loudness</translation>
    </message>
    <message>
        <source>ラウドネスレンジ</source>
        <translation>loudness range</translation>
    </message>
    <message>
        <source>トゥルーピーク</source>
        <translation>true peak</translation>
    </message>
    <message>
        <source>音声出力が使えません。このコンピューターでは再生できません。</source>
        <translation>No audio output can be used. This computer cannot play the song.</translation>
    </message>
    <message>
        <source>再生が途切れた回数 (アンダーラン): %1</source>
        <translation>Times playback ran dry (underruns): %1</translation>
    </message>
</context>
</TS>
