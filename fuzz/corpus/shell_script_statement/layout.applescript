  DO Shell   script	"a\tb\nc\rd"
 with ADMINISTRATOR privileges with prompt"p\\q"  
