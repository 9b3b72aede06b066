# The password dialog: records each prompt, answers what "answer" holds (default "secret"; empty is a
# cancel) and reports each answer as the real dialog does. "fifo", when there, holds the dialog open
# until the test writes the answer into it.
# The test writes it with the path of its state folder in place of the placeholder below.
state='%1'
printf '%s\n' "$1" >> "$state/prompts"
if [ -p "$state/fifo" ]; then
    : > "$state/open"
    read -r answer < "$state/fifo"
elif [ -e "$state/answer" ]; then
    answer=$(cat "$state/answer")
else
    answer=secret
fi
if [ -z "$answer" ]; then
    echo cancelled >> "${TARN_ASKPASS_REPORT:-/dev/null}"
    exit 1
fi
echo answered >> "${TARN_ASKPASS_REPORT:-/dev/null}"
echo "$answer"
